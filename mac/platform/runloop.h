#pragma once
// The main thread's run loop: timers and sources, each scheduled in one or more modes, run only while
// the loop runs in one of their modes. A modal panel's loop runs in the modal panel mode, so what
// lives in the default mode alone waits until the panel has ended; that is how the Mac programs keep
// device arrivals from interrupting a question they are asking.
//
// The loop never waits for real: when nothing is due it lets the clock pass to the next timer, to the
// next moment the simulated user acts, or to the caller's deadline, whichever comes first.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "mac/platform/clock.h"

namespace mac {

// NSDefaultRunLoopMode, NSModalPanelRunLoopMode, NSEventTrackingRunLoopMode.
enum class RunLoopMode : uint8_t { Default = 1, ModalPanel = 2, EventTracking = 4 };

class ModeSet {
 public:
  constexpr ModeSet() = default;
  // A mode is a set of one.
  constexpr ModeSet(RunLoopMode mode) : bits_(static_cast<uint8_t>(mode)) {}
  constexpr bool contains(RunLoopMode mode) const { return (bits_ & static_cast<uint8_t>(mode)) != 0; }
  constexpr ModeSet operator|(ModeSet other) const { return ModeSet(static_cast<uint8_t>(bits_ | other.bits_)); }
  constexpr bool empty() const { return bits_ == 0; }

 private:
  constexpr explicit ModeSet(uint8_t bits) : bits_(bits) {}
  uint8_t bits_ = 0;
};

// NSRunLoopCommonModes.
inline constexpr ModeSet kCommonModes = ModeSet(RunLoopMode::Default) | RunLoopMode::ModalPanel | RunLoopMode::EventTracking;

class RunLoop;

// NSTimer. The run loop keeps a scheduled timer alive until it is invalidated; a one-shot timer
// invalidates itself once it has fired.
class Timer {
 public:
  using Action = std::function<void(Timer&)>;

  void invalidate() { valid_ = false; }
  bool isValid() const { return valid_; }
  uint64_t fireDateMs() const { return fireDateMs_; }
  uint64_t intervalMs() const { return intervalMs_; }
  bool repeats() const { return repeats_; }

  Timer(uint64_t fireDateMs, uint64_t intervalMs, bool repeats, Action action)
      : fireDateMs_(fireDateMs), intervalMs_(intervalMs), repeats_(repeats), action_(std::move(action)) {}

 private:
  friend class RunLoop;
  uint64_t fireDateMs_;
  uint64_t intervalMs_;
  bool repeats_;
  Action action_;
  bool valid_ = true;
  ModeSet modes_;
  uint64_t order_ = 0;  // equal fire dates fire in the order the timers were scheduled
};

// A run-loop source (CFRunLoopSource): whoever owns it hands it work, which is done the next time the
// loop runs in one of the modes the source was added in. Leaves its run loop when destroyed.
class RunLoopSource {
 public:
  RunLoopSource() = default;
  RunLoopSource(const RunLoopSource&) = delete;
  RunLoopSource& operator=(const RunLoopSource&) = delete;
  ~RunLoopSource();

  void signal(std::function<void()> work) { work_.push_back(std::move(work)); }
  bool hasWork() const { return !work_.empty(); }
  void discardWork() { work_.clear(); }

 private:
  friend class RunLoop;
  RunLoop* loop_ = nullptr;
  ModeSet modes_;
  std::deque<std::function<void()>> work_;
};

// What the loop consults when it has nothing due: the simulated user.
class IdleHandler {
 public:
  virtual ~IdleHandler() = default;
  // Acts now if it can; true when it did something.
  virtual bool onIdle(RunLoopMode mode) = 0;
  // When it will next be able to act (or give up waiting), if ever.
  virtual std::optional<uint64_t> nextWake() const = 0;
  // A loop that only the user can end (a modal panel, the application's own loop) has made a pass
  // and goes on waiting for `what`; the handler may end the wait by throwing when nobody will come.
  virtual void stillWaiting(std::string_view what) = 0;
};

class RunLoop {
 public:
  explicit RunLoop(Clock& clock) : clock_(clock) {}
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;
  ~RunLoop();

  Clock& clock() { return clock_; }

  // NSTimer timerWithTimeInterval:...repeats: (due `seconds` from now, not yet scheduled) and
  // scheduledTimerWithTimeInterval:... (scheduled in the default mode).
  std::shared_ptr<Timer> timerWithTimeInterval(double seconds, bool repeats, Timer::Action action);
  std::shared_ptr<Timer> scheduledTimerWithTimeInterval(double seconds, bool repeats, Timer::Action action);
  // addTimer:forMode:. Adding a timer in further modes widens the set it runs in.
  void addTimer(const std::shared_ptr<Timer>& timer, ModeSet modes);

  // CFRunLoopAddSource / CFRunLoopRemoveSource.
  void addSource(RunLoopSource& source, ModeSet modes);
  void removeSource(RunLoopSource& source, ModeSet modes);

  // Work from outside the program (the workspace's notifications), done on the main thread the next
  // time the loop runs in one of `modes`.
  void perform(ModeSet modes, std::function<void()> work);

  // One pass (runMode:beforeDate:): does what is due in `mode`; with nothing due, lets the simulated
  // user act; failing that, lets time pass until something is due or `deadlineMs`. False only when
  // the deadline had come and nothing was done.
  bool runOnce(RunLoopMode mode, uint64_t deadlineMs);
  // A pass that does not let time pass: what is due now, and the user's move if there is one.
  bool runPending(RunLoopMode mode);

  // The mode of the innermost pass running, if any.
  std::optional<RunLoopMode> currentMode() const;

  void setIdleHandler(IdleHandler* handler) { idle_ = handler; }
  IdleHandler* idleHandler() const { return idle_; }

  size_t scheduledTimerCount() const;

 private:
  friend class RunLoopSource;
  struct Performance {
    ModeSet modes;
    std::function<void()> work;
  };

  bool doWork(RunLoopMode mode);
  bool hasWork(RunLoopMode mode) const;
  std::optional<uint64_t> nextTimerMs(RunLoopMode mode) const;
  void forget(RunLoopSource* source);

  Clock& clock_;
  IdleHandler* idle_ = nullptr;
  std::vector<std::shared_ptr<Timer>> timers_;
  uint64_t timerOrder_ = 0;
  std::vector<RunLoopSource*> sources_;
  std::deque<Performance> performances_;
  std::vector<RunLoopMode> modeStack_;
};

}  // namespace mac
