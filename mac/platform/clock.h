#pragma once
// Time of the simulated Mac. Everything that waits (timers, the run loop, a thread that sleeps, the
// recorder coming back, a tool finishing after a delay) waits on this clock, so that tests run a
// minute of the programs' life in no time and always in the same order.
//
// Besides time the clock carries the events of the simulated world: things that happen outside the
// program at a given moment (the recorder's presence is looked at, a privileged tool has done its
// work). They happen while time passes, whoever lets it pass: the run loop when it has nothing to do,
// or the program itself when it sleeps. They never call into the program directly; what the program
// is to hear about, they hand to the run loop.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace mac {

using Milliseconds = std::chrono::milliseconds;

class Clock {
 public:
  // A real-time clock lets time pass by sleeping: for runs whose recorder lives in a state file
  // shared with other processes, where the recorder's own time is the wall clock.
  // `startMs`: the moment the simulation begins at (a program started inside a simulated Mac
  // goes on from the time that Mac has reached).
  explicit Clock(bool realTime = false, uint64_t startMs = 0) : realTime_(realTime), now_(startMs) {}
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  // Milliseconds since the simulation began. Safe from any thread.
  uint64_t nowMs() const { return now_.load(std::memory_order_acquire); }
  bool realTime() const { return realTime_; }

  // Lets time pass up to `targetMs`, with the world's events due by then in order of their time (and
  // of scheduling, when equal). After each event `stop` is asked; when it answers true, time stands
  // at that event's moment. Main thread only.
  void advanceTo(uint64_t targetMs, const std::function<bool()>& stop = {});

  // The calling thread blocks: time passes, nothing of the program runs meanwhile.
  void sleepFor(Milliseconds duration);

  using EventId = uint64_t;
  EventId schedule(uint64_t atMs, std::function<void()> event);
  EventId scheduleAfter(Milliseconds delay, std::function<void()> event) {
    return schedule(nowMs() + static_cast<uint64_t>(delay.count()), std::move(event));
  }
  void cancel(EventId id);
  std::optional<uint64_t> nextEventMs() const;

 private:
  void passTo(uint64_t targetMs);

  bool realTime_;
  std::atomic<uint64_t> now_{0};
  EventId nextId_ = 1;
  // Keyed by (time, id): equal times keep the order in which they were scheduled.
  std::map<std::pair<uint64_t, EventId>, std::function<void()>> events_;
};

}  // namespace mac
