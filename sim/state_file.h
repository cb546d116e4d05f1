#pragma once
// The simulated recorder lives in a state file, so that several processes (the two stages of a
// two-stage run, the command-line tool, a test) see one device. Every access locks the file, reads
// the recorder, lets the caller act, and writes it back before the lock is released.
//
// Form: a text head ("ZT5100-SIM 1", then key=value lines, then a line "--"), followed by the raw
// flash of the main and the sub processor.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "sim/recorder.h"

namespace sim {

std::vector<uint8_t> SerializeRecorder(const Recorder& recorder);
// False with a message for anything that is not a whole, consistent state file.
bool ParseRecorder(std::span<const uint8_t> bytes, Recorder& recorder, std::string& error);

class RecorderStore {
 public:
  explicit RecorderStore(std::string path) : path_(std::move(path)) {}

  bool Create(const Recorder& recorder, std::string& error) const;
  bool Read(Recorder& recorder, std::string& error) const;
  // `change` runs under the file's lock; its recorder is written back when it returns true.
  bool Update(const std::function<bool(Recorder&)>& change, std::string& error) const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Milliseconds of the wall clock, the same in every process (and under Wine).
uint64_t WallClockMs();

}  // namespace sim
