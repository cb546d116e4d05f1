#include "mac/platform/transcript.h"

#include <cstdio>

namespace mac {

void Transcript::push(std::string line) {
  line.insert(0, label_);
  if (echo_) *echo_ << line << std::endl;
  lines_.push_back(std::move(line));
}

void Transcript::add(std::string_view event, const std::vector<std::string>& contents) {
  const uint64_t now = clock_.nowMs();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%6llu.%03u  ", static_cast<unsigned long long>(now / 1000),
                static_cast<unsigned>(now % 1000));
  push(std::string(stamp).append(event));
  for (const std::string& line : contents) push("              " + line);
}

std::string Transcript::textSince(size_t mark) const {
  std::string text;
  for (size_t i = mark; i < lines_.size(); ++i) text.append(lines_[i]).push_back('\n');
  return text;
}

std::string Transcript::text() const { return textSince(0); }

bool Transcript::contains(std::string_view fragment) const {
  for (const std::string& line : lines_) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

}  // namespace mac
