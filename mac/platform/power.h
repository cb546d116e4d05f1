#pragma once
// Power management as the Mac updater uses it: an assertion that keeps the computer from sleeping
// while the user is idle, taken for as long as the recorder is being written. The transcript shows
// each assertion taken and released, so a run shows that none was left behind.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "mac/platform/iokit.h"

namespace mac {

class Transcript;

using IOPMAssertionID = uint32_t;
using IOPMAssertionLevel = uint32_t;
inline constexpr IOPMAssertionLevel kIOPMAssertionLevelOff = 0;
inline constexpr IOPMAssertionLevel kIOPMAssertionLevelOn = 255;
inline constexpr std::string_view kIOPMAssertionTypePreventUserIdleSystemSleep = "PreventUserIdleSystemSleep";

class PowerManagement {
 public:
  explicit PowerManagement(Transcript& transcript) : transcript_(transcript) {}

  // kIOReturnBadArgument for an unknown type, a level other than on or off, or no place for the id.
  IOReturn IOPMAssertionCreateWithName(std::string_view type, IOPMAssertionLevel level, std::string_view name,
                                       IOPMAssertionID* id);
  // kIOReturnBadArgument for an id that is not held.
  IOReturn IOPMAssertionRelease(IOPMAssertionID id);

  // ---- The simulation's side ----
  size_t activeAssertions() const;
  // Whether idle sleep is prevented now.
  bool preventsIdleSleep() const;

 private:
  struct Assertion {
    std::string type;
    std::string name;
    bool on = false;
  };
  Transcript& transcript_;
  mutable std::mutex mutex_;
  std::map<IOPMAssertionID, Assertion> assertions_;
  IOPMAssertionID next_ = 1;
};

// Owns one assertion that prevents idle sleep: released when it goes.
class ScopedSleepPrevention {
 public:
  ScopedSleepPrevention(PowerManagement& power, std::string_view name);
  ScopedSleepPrevention(const ScopedSleepPrevention&) = delete;
  ScopedSleepPrevention& operator=(const ScopedSleepPrevention&) = delete;
  ~ScopedSleepPrevention();
  bool held() const { return id_ != 0; }

 private:
  PowerManagement& power_;
  IOPMAssertionID id_ = 0;
};

}  // namespace mac
