#pragma once
// What a user would have seen, as text: windows and sheets appearing with their texts and buttons,
// texts and button states that change while shown, alerts with the button chosen, the recorder
// plugged and unplugged. Each event line carries the simulated time; the lines under it (a window's
// contents) are indented. Tests read it, the demo prints it as it goes.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "mac/platform/clock.h"

namespace mac {

class Transcript {
 public:
  explicit Transcript(const Clock& clock) : clock_(clock) {}

  // One event, with the contents that belong to it.
  void add(std::string_view event, const std::vector<std::string>& contents = {});

  const std::vector<std::string>& lines() const { return lines_; }
  std::string text() const;
  bool contains(std::string_view fragment) const;
  // Lines added from `mark` on (a mark is a former lines().size()).
  std::string textSince(size_t mark) const;

  // Every line is also written to `out` as it comes (and flushed: other processes of the same
  // simulated Mac add their lines to the same file in between).
  void setEcho(std::ostream* out) { echo_ = out; }
  // Lines written from now on start with "[label] ": which program of a run wrote them.
  void setLabel(std::string label) { label_ = label.empty() ? std::string() : "[" + label + "] "; }

 private:
  void push(std::string line);

  const Clock& clock_;
  std::vector<std::string> lines_;
  std::ostream* echo_ = nullptr;
  std::string label_;
};

}  // namespace mac
