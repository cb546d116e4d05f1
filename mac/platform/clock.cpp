#include "mac/platform/clock.h"

#include <algorithm>
#include <thread>

namespace mac {

void Clock::passTo(uint64_t targetMs) {
  const uint64_t now = nowMs();
  if (targetMs <= now) return;
  if (realTime_) std::this_thread::sleep_for(Milliseconds(targetMs - now));
  now_.store(targetMs, std::memory_order_release);
}

void Clock::advanceTo(uint64_t targetMs, const std::function<bool()>& stop) {
  while (!events_.empty() && events_.begin()->first.first <= targetMs) {
    auto first = events_.begin();
    const uint64_t at = first->first.first;
    std::function<void()> event = std::move(first->second);
    events_.erase(first);
    passTo(at);
    event();  // may schedule further events, even at this very moment
    if (stop && stop()) return;
  }
  passTo(targetMs);
}

void Clock::sleepFor(Milliseconds duration) {
  if (duration.count() > 0) advanceTo(nowMs() + static_cast<uint64_t>(duration.count()));
}

Clock::EventId Clock::schedule(uint64_t atMs, std::function<void()> event) {
  const EventId id = nextId_++;
  events_.emplace(std::make_pair(std::max(atMs, nowMs()), id), std::move(event));
  return id;
}

void Clock::cancel(EventId id) {
  for (auto it = events_.begin(); it != events_.end(); ++it) {
    if (it->first.second == id) {
      events_.erase(it);
      return;
    }
  }
}

std::optional<uint64_t> Clock::nextEventMs() const {
  if (events_.empty()) return std::nullopt;
  return events_.begin()->first.first;
}

}  // namespace mac
