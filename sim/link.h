#pragma once
// How a host reaches the simulated recorder: in memory (tests, benchmark) or through its state file
// (programs in separate processes). Every transport of the simulation builds goes through a link.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "sim/recorder.h"
#include "sim/state_file.h"

namespace sim {

class RecorderLink {
 public:
  virtual ~RecorderLink() = default;
  virtual Reply Execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn) = 0;
  virtual bool Attached() = 0;
  virtual bool VolumeMounted() = 0;
  virtual void Released() = 0;
};

// A recorder in this process. `now` gives the time in milliseconds; tests give a fake one.
class MemoryLink : public RecorderLink {
 public:
  explicit MemoryLink(Recorder& recorder, std::function<uint64_t()> now = WallClockMs)
      : recorder_(recorder), now_(std::move(now)) {}
  Reply Execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn) override;
  bool Attached() override;
  bool VolumeMounted() override;
  void Released() override;

 private:
  Recorder& recorder_;
  std::function<uint64_t()> now_;
};

// A recorder in a state file, shared with other processes; each call is one locked transaction.
class StoreLink : public RecorderLink {
 public:
  explicit StoreLink(std::string path) : store_(std::move(path)) {}
  Reply Execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn) override;
  bool Attached() override;
  bool VolumeMounted() override;
  void Released() override;
  const std::string& lastError() const { return error_; }
  const std::string& path() const { return store_.path(); }

 private:
  RecorderStore store_;
  std::string error_;
};

}  // namespace sim
