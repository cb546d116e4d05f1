#include "mac/platform/power.h"

#include "mac/platform/transcript.h"

namespace mac {

IOReturn PowerManagement::IOPMAssertionCreateWithName(std::string_view type, IOPMAssertionLevel level,
                                                      std::string_view name, IOPMAssertionID* id) {
  if (!id || type != kIOPMAssertionTypePreventUserIdleSystemSleep ||
      (level != kIOPMAssertionLevelOn && level != kIOPMAssertionLevelOff)) {
    return kIOReturnBadArgument;
  }
  {
    std::lock_guard lock(mutex_);
    *id = next_++;
    assertions_[*id] = Assertion{std::string(type), std::string(name), level == kIOPMAssertionLevelOn};
  }
  transcript_.add("power assertion " + std::string(type) + " taken (\"" + std::string(name) + "\")");
  return kIOReturnSuccess;
}

IOReturn PowerManagement::IOPMAssertionRelease(IOPMAssertionID id) {
  std::string type;
  {
    std::lock_guard lock(mutex_);
    const auto it = assertions_.find(id);
    if (it == assertions_.end()) return kIOReturnBadArgument;
    type = it->second.type;
    assertions_.erase(it);
  }
  transcript_.add("power assertion " + type + " released");
  return kIOReturnSuccess;
}

size_t PowerManagement::activeAssertions() const {
  std::lock_guard lock(mutex_);
  return assertions_.size();
}

bool PowerManagement::preventsIdleSleep() const {
  std::lock_guard lock(mutex_);
  for (const auto& [id, a] : assertions_) {
    if (a.on && a.type == kIOPMAssertionTypePreventUserIdleSystemSleep) return true;
  }
  return false;
}

ScopedSleepPrevention::ScopedSleepPrevention(PowerManagement& power, std::string_view name) : power_(power) {
  if (power_.IOPMAssertionCreateWithName(kIOPMAssertionTypePreventUserIdleSystemSleep, kIOPMAssertionLevelOn, name,
                                         &id_) != kIOReturnSuccess) {
    id_ = 0;
  }
}

ScopedSleepPrevention::~ScopedSleepPrevention() {
  if (id_ != 0) power_.IOPMAssertionRelease(id_);
}

}  // namespace mac
