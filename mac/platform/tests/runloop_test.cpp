#include "mac/platform/runloop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mac {
namespace {

class PlatformRunLoop : public testing::Test {
 protected:
  // Runs `mode` until `ms` of simulated time have passed.
  void RunFor(RunLoopMode mode, uint64_t ms) {
    const uint64_t deadline = clock.nowMs() + ms;
    while (loop.runOnce(mode, deadline)) {
    }
  }
  std::shared_ptr<Timer> Add(double seconds, bool repeats, std::string name, ModeSet modes) {
    auto timer = loop.timerWithTimeInterval(seconds, repeats, [this, name](Timer&) {
      fired.push_back(name + "@" + std::to_string(clock.nowMs()));
    });
    loop.addTimer(timer, modes);
    return timer;
  }
  Clock clock;
  RunLoop loop{clock};
  std::vector<std::string> fired;
};

TEST_F(PlatformRunLoop, TimersFireInTheOrderOfTheirTimeOnTheVirtualClock) {
  Add(2.0, false, "b", RunLoopMode::Default);
  Add(0.5, false, "a", RunLoopMode::Default);
  Add(2.0, false, "c", RunLoopMode::Default);  // same moment as b: scheduled later, fires later
  auto repeating = Add(0.75, true, "r", RunLoopMode::Default);
  RunFor(RunLoopMode::Default, 2000);
  EXPECT_EQ(fired, (std::vector<std::string>{"a@500", "r@750", "r@1500", "b@2000", "c@2000"}));
  EXPECT_EQ(clock.nowMs(), 2000u);
  repeating->invalidate();
  fired.clear();
  RunFor(RunLoopMode::Default, 5000);
  EXPECT_TRUE(fired.empty()) << "invalidated and one-shot timers are done";
  EXPECT_EQ(loop.scheduledTimerCount(), 0u);
}

TEST_F(PlatformRunLoop, ATimerRunsOnlyInItsModesAndFiresLateWhenItsModeRunsAgain) {
  Add(1.0, false, "default", RunLoopMode::Default);
  Add(1.0, false, "common", kCommonModes);
  Add(1.5, false, "tracking", ModeSet(RunLoopMode::Default) | RunLoopMode::EventTracking);
  RunFor(RunLoopMode::ModalPanel, 3000);
  EXPECT_EQ(fired, (std::vector<std::string>{"common@1000"}));
  RunFor(RunLoopMode::EventTracking, 0);
  EXPECT_EQ(fired.back(), "tracking@3000");
  RunFor(RunLoopMode::Default, 0);
  EXPECT_EQ(fired.back(), "default@3000") << "overdue, it fires at once in its mode";
}

TEST_F(PlatformRunLoop, ARepeatingTimerThatMissedIntervalsFiresOnceAndKeepsItsRhythm) {
  Add(1.0, true, "r", RunLoopMode::Default);
  clock.advanceTo(3500);  // the program slept
  RunFor(RunLoopMode::Default, 0);
  RunFor(RunLoopMode::Default, 600);
  EXPECT_EQ(fired, (std::vector<std::string>{"r@3500", "r@4000"}));
}

TEST_F(PlatformRunLoop, SourcesDoTheirWorkOnlyInTheirModesAndLeaveWhenDestroyed) {
  std::vector<std::string> done;
  {
    RunLoopSource source;
    loop.addSource(source, RunLoopMode::Default);
    source.signal([&] { done.push_back("first"); });
    source.signal([&] { done.push_back("second"); });
    EXPECT_FALSE(loop.runPending(RunLoopMode::ModalPanel));
    EXPECT_TRUE(done.empty());
    EXPECT_TRUE(loop.runPending(RunLoopMode::Default));
    EXPECT_EQ(done, (std::vector<std::string>{"first", "second"}));
    source.signal([&] { done.push_back("never"); });
  }
  RunFor(RunLoopMode::Default, 100);
  EXPECT_EQ(done.size(), 2u) << "a destroyed source takes its work with it";
}

TEST_F(PlatformRunLoop, WorldEventsHappenWhileTimePassesAndStopThePassWhenTheyBringWork) {
  RunLoopSource source;
  loop.addSource(source, RunLoopMode::Default);
  std::vector<uint64_t> at;
  clock.schedule(700, [&] { source.signal([&] { at.push_back(clock.nowMs()); }); });
  Add(2.0, false, "t", RunLoopMode::Default);
  EXPECT_TRUE(loop.runOnce(RunLoopMode::Default, 10000));
  EXPECT_EQ(at, (std::vector<uint64_t>{700})) << "delivered at its moment, not at the timer's";
  clock.sleepFor(Milliseconds(5000));
  EXPECT_TRUE(fired.empty()) << "a sleeping program runs no timers";
  RunFor(RunLoopMode::Default, 0);
  EXPECT_EQ(fired, (std::vector<std::string>{"t@5700"}));
}

}  // namespace
}  // namespace mac
