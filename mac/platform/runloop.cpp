#include "mac/platform/runloop.h"

#include <algorithm>
#include <cmath>

namespace mac {

namespace {

uint64_t ToMs(double seconds) {
  if (!(seconds > 0)) return 0;
  return static_cast<uint64_t>(std::llround(seconds * 1000.0));
}

// Restores the mode of the enclosing pass when a nested one ends, however it ends.
class ModeScope {
 public:
  ModeScope(std::vector<RunLoopMode>& stack, RunLoopMode mode) : stack_(stack) { stack_.push_back(mode); }
  ~ModeScope() { stack_.pop_back(); }
  ModeScope(const ModeScope&) = delete;
  ModeScope& operator=(const ModeScope&) = delete;

 private:
  std::vector<RunLoopMode>& stack_;
};

}  // namespace

RunLoopSource::~RunLoopSource() {
  if (loop_) loop_->forget(this);
}

RunLoop::~RunLoop() {
  for (RunLoopSource* source : sources_) source->loop_ = nullptr;
}

std::shared_ptr<Timer> RunLoop::timerWithTimeInterval(double seconds, bool repeats, Timer::Action action) {
  const uint64_t interval = ToMs(seconds);
  // A repeating timer of no interval would fire forever within one moment.
  return std::make_shared<Timer>(clock_.nowMs() + interval, repeats ? std::max<uint64_t>(interval, 1) : interval, repeats,
                                 std::move(action));
}

std::shared_ptr<Timer> RunLoop::scheduledTimerWithTimeInterval(double seconds, bool repeats, Timer::Action action) {
  auto timer = timerWithTimeInterval(seconds, repeats, std::move(action));
  addTimer(timer, RunLoopMode::Default);
  return timer;
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer, ModeSet modes) {
  if (!timer || !timer->isValid()) return;
  timer->modes_ = timer->modes_ | modes;
  if (std::find(timers_.begin(), timers_.end(), timer) == timers_.end()) {
    timer->order_ = timerOrder_++;
    timers_.push_back(timer);
  }
}

void RunLoop::addSource(RunLoopSource& source, ModeSet modes) {
  if (source.loop_ && source.loop_ != this) source.loop_->forget(&source);
  source.modes_ = source.modes_ | modes;
  if (source.loop_ != this) {
    source.loop_ = this;
    sources_.push_back(&source);
  }
}

void RunLoop::removeSource(RunLoopSource& source, ModeSet modes) {
  if (source.loop_ != this) return;
  ModeSet left;
  for (RunLoopMode mode : {RunLoopMode::Default, RunLoopMode::ModalPanel, RunLoopMode::EventTracking}) {
    if (source.modes_.contains(mode) && !modes.contains(mode)) left = left | mode;
  }
  source.modes_ = left;
  if (left.empty()) forget(&source);
}

void RunLoop::forget(RunLoopSource* source) {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
  source->loop_ = nullptr;
  source->modes_ = ModeSet();
}

void RunLoop::perform(ModeSet modes, std::function<void()> work) { performances_.push_back({modes, std::move(work)}); }

std::optional<RunLoopMode> RunLoop::currentMode() const {
  if (modeStack_.empty()) return std::nullopt;
  return modeStack_.back();
}

size_t RunLoop::scheduledTimerCount() const {
  return static_cast<size_t>(std::count_if(timers_.begin(), timers_.end(), [](const auto& t) { return t->isValid(); }));
}

std::optional<uint64_t> RunLoop::nextTimerMs(RunLoopMode mode) const {
  std::optional<uint64_t> next;
  for (const auto& timer : timers_) {
    if (!timer->isValid() || !timer->modes_.contains(mode)) continue;
    if (!next || timer->fireDateMs_ < *next) next = timer->fireDateMs_;
  }
  return next;
}

bool RunLoop::hasWork(RunLoopMode mode) const {
  const uint64_t now = clock_.nowMs();
  for (const auto& p : performances_) {
    if (p.modes.contains(mode)) return true;
  }
  for (const RunLoopSource* source : sources_) {
    if (source->modes_.contains(mode) && source->hasWork()) return true;
  }
  const auto next = nextTimerMs(mode);
  return next && *next <= now;
}

bool RunLoop::doWork(RunLoopMode mode) {
  bool did = false;

  // Work handed in from outside, in the order it came; work that arrives meanwhile waits a pass.
  for (size_t n = performances_.size(), i = 0; n > 0; --n) {
    if (!performances_[i].modes.contains(mode)) {
      ++i;
      continue;
    }
    auto work = std::move(performances_[i].work);
    performances_.erase(performances_.begin() + static_cast<std::ptrdiff_t>(i));
    work();
    did = true;
  }

  // Sources may be removed, or destroyed, by the work they do: look each one up again. Work handed
  // to a source meanwhile waits a pass, as above.
  const std::vector<RunLoopSource*> sources = sources_;
  for (RunLoopSource* source : sources) {
    for (size_t n = source->work_.size(); n > 0; --n) {
      if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) break;
      if (!source->modes_.contains(mode) || source->work_.empty()) break;
      auto work = std::move(source->work_.front());
      source->work_.pop_front();
      work();
      did = true;
    }
  }

  const uint64_t now = clock_.nowMs();
  std::vector<std::shared_ptr<Timer>> due;
  for (const auto& timer : timers_) {
    if (timer->isValid() && timer->modes_.contains(mode) && timer->fireDateMs_ <= now) due.push_back(timer);
  }
  std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) {
    return a->fireDateMs_ != b->fireDateMs_ ? a->fireDateMs_ < b->fireDateMs_ : a->order_ < b->order_;
  });
  for (const auto& timer : due) {
    if (!timer->isValid() || timer->fireDateMs_ > now) continue;
    if (timer->repeats_) {
      // Fires once however many intervals were missed, then keeps its rhythm.
      do {
        timer->fireDateMs_ += timer->intervalMs_;
      } while (timer->fireDateMs_ <= now);
    }
    if (timer->action_) timer->action_(*timer);
    if (!timer->repeats_) timer->invalidate();
    did = true;
  }
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [](const auto& t) { return !t->isValid(); }), timers_.end());
  return did;
}

bool RunLoop::runPending(RunLoopMode mode) {
  ModeScope scope(modeStack_, mode);
  if (doWork(mode)) return true;
  return idle_ && idle_->onIdle(mode);
}

bool RunLoop::runOnce(RunLoopMode mode, uint64_t deadlineMs) {
  ModeScope scope(modeStack_, mode);
  if (doWork(mode)) return true;
  if (idle_ && idle_->onIdle(mode)) return true;
  uint64_t next = deadlineMs;
  if (const auto timer = nextTimerMs(mode)) next = std::min(next, *timer);
  if (idle_) {
    if (const auto wake = idle_->nextWake()) next = std::min(next, *wake);
  }
  // Nothing can happen before the deadline has come: the caller decides what that means.
  if (next <= clock_.nowMs()) return false;
  clock_.advanceTo(next, [&] { return hasWork(mode); });
  doWork(mode);
  return true;
}

}  // namespace mac
