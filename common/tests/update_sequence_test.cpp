// The update sequence against the simulated recorder, with the command blocks each platform sends.
#include "common/update_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "sim/firmware_image.h"
#include "sim/link.h"
#include "sim/sim_commands.h"

namespace {

using Platform = sim::SimUpdateCommands::Platform;
using Log = std::vector<std::string>;

class Events : public UpdateReporter {
 public:
  void Progress(uint32_t p) override { all.push_back("P" + std::to_string(p)); }
  void Stage(uint32_t s) override { all.push_back("S" + std::to_string(s)); }
  void Error(uint32_t e) override { all.push_back("E" + std::to_string(e)); }
  bool Has(const std::string& event) const { return std::find(all.begin(), all.end(), event) != all.end(); }
  // The events after the first `marker` up to the next stage (or the end).
  Log Phase(const std::string& marker) const {
    Log out;
    auto it = std::find(all.begin(), all.end(), marker);
    if (it == all.end()) return out;
    for (++it; it != all.end() && (*it)[0] != 'S'; ++it) out.push_back(*it);
    return out;
  }
  Log all;
};

class FakeClock : public UpdateClock {
 public:
  void Pause(std::chrono::milliseconds d) override { pauses.push_back(d.count()); }
  int64_t Total() const {
    int64_t sum = 0;
    for (auto p : pauses) sum += p;
    return sum;
  }
  std::vector<int64_t> pauses;
};

// Asks the recorder's link as the system would ask for the volume's information.
class SimProbe : public VolumeProbe {
 public:
  explicit SimProbe(sim::RecorderLink& link) : link_(link) {}
  uint32_t QueryVolume() override {
    ++calls;
    return link_.VolumeMounted() ? 0 : 21;
  }
  int calls = 0;

 private:
  sim::RecorderLink& link_;
};

class MacSite : public MacUpdateSite {
 public:
  bool Connected() override { return connected; }
  bool PrepareVolumes() override {
    ++prepared;
    return unmountable;
  }
  void ShowPhase(uint32_t id) override { events.push_back("M" + std::to_string(id)); }
  void SetProgress(uint32_t p) override { events.push_back("P" + std::to_string(p)); }
  void CloseSheet() override { events.push_back("close"); }
  void RunDetachedAndWait(std::function<void()> task, std::chrono::milliseconds limit) override {
    events.push_back("detached");
    RunDetachedAndWaitFor(std::move(task), limit);
  }
  bool connected = true;
  bool unmountable = true;
  int prepared = 0;
  Log events;
};

// Members are public: the table-driven cases below reach them through the fixture.
class SequenceTest : public testing::Test {
 public:
  std::vector<uint8_t> Image(TargetCode target, uint32_t length, const char* version = "1.02") {
    return sim::MakeFirmwareImage({static_cast<uint8_t>(target), version, "ZT-5100", 0, 0}, length);
  }

  UpdateJob Job(TargetCode target, const std::vector<uint8_t>& image) {
    UpdateJob job;
    job.drive = 4;
    job.target = target;
    job.startAddress = target == TargetCode::Sub ? 1024 : 524288;
    job.length = static_cast<int32_t>(image.size());
    job.image = image;
    return job;
  }

  bool RunWindows(const UpdateJob& job, bool withProbe = true) {
    return RunUpdate(job, windows_, events_, clock_, withProbe ? &probe_ : nullptr);
  }

  // The update commands the recorder received, in order.
  Log Commands() const {
    Log out;
    for (const auto& key : recorder_.log) {
      if (key.rfind("E4", 0) == 0) out.push_back(key.substr(3));
    }
    return out;
  }

  // The Mac transport, configured as the Mac bundle configuration would configure it for `job`.
  std::shared_ptr<sim::SimUpdateCommands> MacCommands(const MacUpdateJob& job) {
    return std::make_shared<sim::SimUpdateCommands>(
        link_, Platform::Mac, mac::CommandConfig{job.startAddress, job.length, static_cast<uint8_t>(job.target)});
  }

  void Arm(const char* fault) {
    sim::Fault f;
    std::string error;
    ASSERT_TRUE(sim::ParseFault(fault, f, error)) << error;
    recorder_.faults.push_back(f);
  }

  sim::Recorder recorder_;
  uint64_t now_ = 1'000'000;
  sim::MemoryLink link_{recorder_, [this] { return now_; }};
  sim::SimUpdateCommands windows_{link_, Platform::Windows};
  SimProbe probe_{link_};
  Events events_;
  FakeClock clock_;
};

TEST_F(SequenceTest, WindowsUpdatesAndVerifiesTheMainProcessor) {
  recorder_.prepareSteps = 2;
  const auto image = Image(TargetCode::Main, 1572864);
  ASSERT_TRUE(RunWindows(Job(TargetCode::Main, image)));
  EXPECT_EQ(recorder_.main.version, "1.02");
  EXPECT_TRUE(recorder_.last.readBack);
  EXPECT_EQ(Commands(), Log({"00", "01", "01", "02", "02", "02", "02", "02", "02", "02", "02", "02", "02", "02", "02",
                             "02", "02", "02", "02", "02", "02", "02", "02", "02", "02", "02", "02", "03", "04", "05",
                             "05", "05", "05", "05", "05", "05", "05", "05", "05", "05", "05", "05", "05", "05", "05",
                             "05", "05", "05", "05", "05", "05", "05", "05", "06"}));
  EXPECT_EQ(events_.Phase("S1"), Log({"P0", "P32", "P65", "P65"}));
  EXPECT_EQ(events_.all.back(), "P100");
  EXPECT_FALSE(windows_.isOpen());
  EXPECT_FALSE(recorder_.attached) << "the recorder restarts once the drive is closed";
  EXPECT_EQ(probe_.calls, 1);
  EXPECT_EQ(clock_.pauses, std::vector<int64_t>({1000}));
}

TEST_F(SequenceTest, WindowsEdgeCases) {
  struct Case {
    const char* what;
    std::function<void(sim::Recorder&, UpdateJob&, std::vector<uint8_t>&, SequenceTest&)> setUp;
    bool result;
    std::function<void(const Events&, const Log& commands, const SequenceTest&)> check;
  };
  auto none = [](sim::Recorder&, UpdateJob&, std::vector<uint8_t>&, SequenceTest&) {};
  const Case cases[] = {
      {"a recorder that rejects the preparation gives error 6",
       [](auto&, auto&, auto&, SequenceTest& t) { t.Arm("fail E4-00"); }, false,
       [](const Events& e, const Log& c, const SequenceTest&) {
         EXPECT_TRUE(e.Has("E6"));
         EXPECT_FALSE(e.Has("E5"));
         EXPECT_EQ(c, Log({"00"}));
       }},
      {"a recorder pulled out at the preparation gives error 5, not 6",
       [](auto&, auto&, auto&, SequenceTest& t) { t.Arm("vanish E4-00"); }, false,
       [](const Events& e, const Log& c, const SequenceTest& t) {
         EXPECT_EQ(e.all, Log({"E5"}));
         EXPECT_EQ(c, Log({"00"}));
         EXPECT_EQ(t.probe_.calls, 1);
       }},
      {"a volume still readable three times fails with error 5 and nothing more is sent",
       [](auto&, auto&, auto&, SequenceTest& t) { t.Arm("keep-volume"); }, false,
       [](const Events& e, const Log& c, const SequenceTest& t) {
         EXPECT_EQ(e.all, Log({"E5"}));
         EXPECT_EQ(c, Log({"00"}));
         EXPECT_EQ(t.probe_.calls, 3);
       }},
      {"10 steps then 4, 4, 0",
       [](sim::Recorder& r, auto&, auto&, SequenceTest&) {
         r.prepareSteps = 10;
         r.pollScript = {4, 4, 0};
       },
       true,
       [](const Events& e, const Log&, const SequenceTest&) { EXPECT_EQ(e.Phase("S1"), Log({"P0", "P39", "P39", "P65", "P65"})); }},
      {"an image of 31744 bytes is one piece",
       [](auto&, UpdateJob& job, std::vector<uint8_t>& image, SequenceTest& t) {
         image = t.Image(TargetCode::Main, 31744);
         job = t.Job(TargetCode::Main, image);
       },
       true, [](const Events& e, const Log&, const SequenceTest&) { EXPECT_EQ(e.Phase("S2"), Log({"P98", "P98"})); }},
      {"an image of 65537 bytes is two pieces",
       [](auto&, UpdateJob& job, std::vector<uint8_t>& image, SequenceTest& t) {
         image = t.Image(TargetCode::Main, 65537);
         job = t.Job(TargetCode::Main, image);
       },
       true, [](const Events& e, const Log&, const SequenceTest&) { EXPECT_EQ(e.Phase("S2"), Log({"P97", "P98", "P98"})); }},
      {"the sub processor is never read back",
       [](auto&, UpdateJob& job, std::vector<uint8_t>& image, SequenceTest& t) {
         image = t.Image(TargetCode::Sub, 31744);
         job = t.Job(TargetCode::Sub, image);
       },
       true,
       [](const Events& e, const Log& c, const SequenceTest& t) {
         EXPECT_EQ(c.back(), "03");
         EXPECT_EQ(e.Phase("S2"), Log({"P98", "P98", "P100"}));
         EXPECT_EQ(t.recorder_.sub.version, "1.02");
       }},
      {"a refused read-back counts as success without stage 3 and without 100",
       [](auto&, auto&, auto&, SequenceTest& t) { t.Arm("refuse-verify"); }, true,
       [](const Events& e, const Log& c, const SequenceTest&) {
         EXPECT_FALSE(e.Has("S3"));
         EXPECT_FALSE(e.Has("P100"));
         EXPECT_EQ(c.back(), "04");
       }},
      {"a mismatch in the last byte of a piece fails; the verification is still ended",
       [](auto&, auto&, auto&, SequenceTest& t) { t.Arm("corrupt-readback 65535"); }, false,
       [](const Events& e, const Log& c, const SequenceTest&) {
         EXPECT_TRUE(e.Has("E5"));
         EXPECT_EQ(std::count(c.begin(), c.end(), "05"), 1);
         EXPECT_EQ(c.back(), "06");
       }},
      {"the wizard shows no stage 4 and makes no 2-second pause", none, true,
       [](const Events& e, const Log&, const SequenceTest& t) {
         EXPECT_FALSE(e.Has("S4"));
         EXPECT_EQ(t.clock_.Total(), 1000);
       }},
      {"the silent run shows stage 4 and pauses 2 seconds",
       [](auto&, UpdateJob& job, auto&, SequenceTest&) { job.centerOnDesktop = true; }, true,
       [](const Events& e, const Log&, const SequenceTest& t) {
         EXPECT_EQ(e.all.back(), "S4");
         EXPECT_EQ(t.clock_.pauses.back(), 2000);
       }},
      {"the verify flag 0 skips the read-back",
       [](auto&, UpdateJob& job, auto&, SequenceTest&) { job.verify = false; }, true,
       [](const Events& e, const Log& c, const SequenceTest&) {
         EXPECT_EQ(c.back(), "03");
         EXPECT_EQ(e.all.back(), "P100");
       }},
      {"more steps than at the start fail the run",
       [](auto&, auto&, auto&, SequenceTest& t) { t.Arm("extra-steps 1 2"); }, false,
       [](const Events& e, const Log& c, const SequenceTest&) {
         EXPECT_TRUE(e.Has("E5"));
         EXPECT_EQ(c, Log({"00", "01", "01"}));
       }},
      {"three failed polls in a row fail the run after three pauses",
       [](auto&, auto&, auto&, SequenceTest& t) {
         t.Arm("fail E4-01 1");
         t.Arm("fail E4-01 1");
         t.Arm("fail E4-01 1");
       },
       false,
       [](const Events& e, const Log& c, const SequenceTest& t) {
         EXPECT_TRUE(e.Has("E5"));
         EXPECT_EQ(c, Log({"00", "01", "01", "01"}));
         EXPECT_EQ(t.clock_.pauses, std::vector<int64_t>({1000, 1000, 1000, 1000}));
       }},
      {"a step count of 0 fails the run",
       [](sim::Recorder& r, auto&, auto&, SequenceTest&) { r.prepareSteps = 0; }, false,
       [](const Events& e, const Log& c, const SequenceTest&) {
         EXPECT_EQ(e.all, Log({"E5"}));
         EXPECT_EQ(c, Log({"00"}));
       }},
      {"a recorder that is not there cannot be opened", [](sim::Recorder& r, auto&, auto&, SequenceTest&) { r.Unplug(); },
       false,
       [](const Events& e, const Log& c, const SequenceTest&) {
         EXPECT_EQ(e.all, Log({"E5"}));
         EXPECT_TRUE(c.empty());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    recorder_ = sim::Recorder{};
    recorder_.prepareSteps = 2;
    events_ = Events{};
    clock_ = FakeClock{};
    probe_.calls = 0;
    auto image = Image(TargetCode::Main, 100000);
    UpdateJob job = Job(TargetCode::Main, image);
    c.setUp(recorder_, job, image, *this);
    EXPECT_EQ(RunWindows(job), c.result);
    EXPECT_FALSE(windows_.isOpen());
    c.check(events_, Commands(), *this);
  }
}

TEST_F(SequenceTest, LengthOutsideTheImageFailsBeforeAnyCommand) {
  const auto image = Image(TargetCode::Main, 4096);
  const int32_t lengths[] = {0, -1, 4097, INT32_MIN};
  for (int32_t length : lengths) {
    events_ = Events{};
    UpdateJob job = Job(TargetCode::Main, image);
    job.length = length;
    EXPECT_FALSE(RunWindows(job));
    EXPECT_EQ(events_.all, Log({"E5"}));
    EXPECT_TRUE(recorder_.log.empty());

    auto mac = std::make_shared<sim::SimUpdateCommands>(link_, Platform::Mac);
    MacSite site;
    const MacUpdateJob macJob{TargetCode::Main, 524288, static_cast<uint32_t>(length), image};
    EXPECT_EQ(RunMacFirmwareUpdate(macJob, mac, site, clock_), kMacUpdateFailed);
    EXPECT_FALSE(VerifyMacFirmwareUpdate(macJob, *mac, site));
    EXPECT_EQ(site.prepared, 0);
    EXPECT_TRUE(recorder_.log.empty());
  }
}

TEST(UpdateProgress, ScalesWithoutOverflow) {
  struct Case {
    uint32_t (*fn)(uint32_t, uint32_t);
    uint32_t a, b, expected;
  };
  const Case cases[] = {
      {PreparationProgress, 10, 4, 39},
      {PreparationProgress, 10, 0, 65},
      {PreparationProgress, 10, 10, 0},
      {WriteProgress, 65536, 65537, 97},
      {WriteProgress, 31744, 31744, 98},
      // 32-bit arithmetic would overflow offset * 33 beyond 130 MB.
      {WriteProgress, 200u << 20, 200u << 20, 98},
      {WriteProgress, 100u << 20, 200u << 20, 81},
      {VerifyProgress, 0xFFFFFFFFu, 0xFFFFFFFFu, 100},
      {VerifyProgress, 65536, 1572864, 98},
  };
  for (const Case& c : cases) EXPECT_EQ(c.fn(c.a, c.b), c.expected) << c.a << "/" << c.b;
  EXPECT_EQ(MacPhaseProgress(3, 3), 100u);
  EXPECT_EQ(MacPhaseProgress(1, 3), 33u);
  EXPECT_EQ(MacPhaseProgress(0, 0), 100u);
  EXPECT_TRUE(VolumeHasGone(21));
  EXPECT_TRUE(VolumeHasGone(87));
  EXPECT_FALSE(VolumeHasGone(0));
  EXPECT_FALSE(VolumeHasGone(5));
}

// Every update command failing once: the result, the commands sent up to and after it, and the drive.
TEST_F(SequenceTest, FaultMatrix) {
  struct Case {
    const char* fault;
    bool windowsResult;
    const char* windowsError;
    Log windowsCommands;
    int macResult;
    bool macVerified;
    Log macCommands;
  };
  // Two preparation steps and an image of two pieces.
  const Log all = {"00", "01", "01", "02", "02", "03", "04", "05", "05", "06"};
  const Case cases[] = {
      {"fail E4-00", false, "E6", {"00"}, kMacUpdateFailed, false, {"00"}},
      {"fail E4-01 1", true, nullptr, {"00", "01", "01", "01", "02", "02", "03", "04", "05", "05", "06"}, kMacUpdateDone, true,
       {"00", "01", "01", "01", "02", "02", "03", "04", "05", "05", "06"}},
      {"fail E4-01 2", true, nullptr, {"00", "01", "01", "01", "02", "02", "03", "04", "05", "05", "06"}, kMacUpdateDone, true,
       {"00", "01", "01", "01", "02", "02", "03", "04", "05", "05", "06"}},
      {"fail E4-02 1", false, "E5", {"00", "01", "01", "02"}, kMacUpdateFailed, false, {"00", "01", "01", "02"}},
      {"fail E4-02 2", false, "E5", {"00", "01", "01", "02", "02"}, kMacUpdateFailed, false, {"00", "01", "01", "02", "02"}},
      {"fail E4-03", false, "E5", {"00", "01", "01", "02", "02", "03"}, kMacUpdateFailed, false,
       {"00", "01", "01", "02", "02", "03"}},
      {"fail E4-04", true, nullptr, {"00", "01", "01", "02", "02", "03", "04"}, kMacUpdateDone, true,
       {"00", "01", "01", "02", "02", "03", "04"}},
      {"fail E4-05 1", false, "E5", {"00", "01", "01", "02", "02", "03", "04", "05", "06"}, kMacUpdateDone, false,
       {"00", "01", "01", "02", "02", "03", "04", "05", "06"}},
      {"fail E4-05 2", false, "E5", {"00", "01", "01", "02", "02", "03", "04", "05", "05", "06"}, kMacUpdateDone, false,
       {"00", "01", "01", "02", "02", "03", "04", "05", "05", "06"}},
      {"fail E4-06", false, "E5", all, kMacUpdateDone, false, all},
      {"stall E4-03", false, "E5", {"00", "01", "01", "02", "02", "03"}, kMacUpdateFailed, false,
       {"00", "01", "01", "02", "02", "03"}},
      {"vanish E4-02 2", false, "E5", {"00", "01", "01", "02", "02"}, kMacUpdateFailed, false, {"00", "01", "01", "02", "02"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const auto image = Image(TargetCode::Main, 65536 + 100);

    recorder_ = sim::Recorder{};
    recorder_.prepareSteps = 2;
    Arm(c.fault);
    events_ = Events{};
    EXPECT_EQ(RunWindows(Job(TargetCode::Main, image)), c.windowsResult);
    EXPECT_EQ(Commands(), c.windowsCommands) << "Windows";
    EXPECT_FALSE(windows_.isOpen());
    if (c.windowsError) {
      EXPECT_EQ(events_.all.back(), c.windowsError);
      EXPECT_EQ(std::count_if(events_.all.begin(), events_.all.end(), [](const std::string& e) { return e[0] == 'E'; }), 1);
    }

    recorder_ = sim::Recorder{};
    recorder_.prepareSteps = 2;
    Arm(c.fault);
    const MacUpdateJob job{TargetCode::Main, 524288, static_cast<uint32_t>(image.size()), image};
    auto mac = MacCommands(job);
    MacSite site;
    const int result = RunMacFirmwareUpdate(job, mac, site, clock_);
    EXPECT_EQ(result, c.macResult) << "Mac";
    if (result == kMacUpdateDone) {
      EXPECT_EQ(VerifyMacFirmwareUpdate(job, *mac, site), c.macVerified) << "Mac";
    }
    EXPECT_EQ(Commands(), c.macCommands) << "Mac";
    if (std::find(site.events.begin(), site.events.end(), "M12001") != site.events.end()) {
      EXPECT_EQ(site.events.back(), "close") << "the progress sheet is closed on every path";
    }
  }
}

TEST_F(SequenceTest, MacPollingNeverPassesTheFirstAttemptAtTheStart) {
  recorder_.prepareSteps = 3;
  const auto image = Image(TargetCode::Main, 1000);
  const MacUpdateJob job{TargetCode::Main, 524288, 1000, image};
  auto mac = MacCommands(job);
  MacSite site;
  ASSERT_EQ(RunMacFirmwareUpdate(job, mac, site, clock_), kMacUpdateDone);
  // Poll 1: attempt 1 reports 2 but cannot pass, attempt 2 reports 1. Poll 2: attempt 1 reports 0.
  EXPECT_EQ(Commands(), Log({"00", "01", "01", "01", "02", "03"}));
  EXPECT_EQ(clock_.pauses, std::vector<int64_t>({1000, 1000}));
  EXPECT_EQ(site.events, Log({"M12001", "P66", "P100", "P100", "M12002", "P100", "close"}));
  // The Mac reads the preparation replies as two bytes.
  EXPECT_EQ(recorder_.main.version, "1.02");
}

TEST_F(SequenceTest, MacVariantDifferences) {
  {
    SCOPED_TRACE("a step count of 0 is accepted");
    recorder_ = sim::Recorder{};
    recorder_.prepareSteps = 0;
    const auto image = Image(TargetCode::Main, 1000);
    const MacUpdateJob job{TargetCode::Main, 524288, 1000, image};
    auto mac = MacCommands(job);
    MacSite site;
    EXPECT_EQ(RunMacFirmwareUpdate(job, mac, site, clock_), kMacUpdateDone);
    EXPECT_EQ(Commands(), Log({"00", "02", "03"}));
  }
  {
    SCOPED_TRACE("the sub processor is finished on a thread of its own and verified");
    recorder_ = sim::Recorder{};
    recorder_.prepareSteps = 1;
    const auto image = Image(TargetCode::Sub, 31744);
    const MacUpdateJob job{TargetCode::Sub, 1024, 31744, image};
    auto mac = MacCommands(job);
    MacSite site;
    ASSERT_EQ(RunMacFirmwareUpdate(job, mac, site, clock_), kMacUpdateDone);
    EXPECT_NE(std::find(site.events.begin(), site.events.end(), "detached"), site.events.end());
    EXPECT_EQ(recorder_.sub.version, "1.02") << "the wait ends when the finishing thread has ended";
    EXPECT_TRUE(VerifyMacFirmwareUpdate(job, *mac, site));
    EXPECT_EQ(Commands(), Log({"00", "01", "01", "02", "03", "04", "05", "06"}));
  }
  {
    SCOPED_TRACE("volumes that stay mounted give 2 before any command");
    recorder_ = sim::Recorder{};
    const auto image = Image(TargetCode::Main, 1000);
    auto mac = std::make_shared<sim::SimUpdateCommands>(link_, Platform::Mac);
    MacSite site;
    site.unmountable = false;
    EXPECT_EQ(RunMacFirmwareUpdate({TargetCode::Main, 524288, 1000, image}, mac, site, clock_), kMacVolumesBusy);
    site.connected = false;
    EXPECT_EQ(RunMacFirmwareUpdate({TargetCode::Main, 524288, 1000, image}, mac, site, clock_), kMacUpdateFailed);
    EXPECT_FALSE(VerifyMacFirmwareUpdate({TargetCode::Main, 524288, 1000, image}, *mac, site));
    EXPECT_TRUE(Commands().empty());
  }
  {
    SCOPED_TRACE("a missing image fails the verification, which is still ended");
    recorder_ = sim::Recorder{};
    const MacUpdateJob job{TargetCode::Main, 524288, 1000, {}};
    auto mac = MacCommands(job);
    MacSite site;
    EXPECT_FALSE(VerifyMacFirmwareUpdate(job, *mac, site));
    EXPECT_EQ(Commands(), Log({"04", "06"}));
  }
}

// The same run through the recorder's state file, as programs in other processes reach it.
TEST(SequenceThroughStateFile, UpdatesTheSharedRecorder) {
  const std::string path = (std::filesystem::temp_directory_path() / "zt-sequence-test.sim").string();
  sim::Recorder created;
  created.prepareSteps = 2;
  created.restartDelayMs = 60000;
  std::string error;
  ASSERT_TRUE(sim::RecorderStore(path).Create(created, error)) << error;

  sim::StoreLink link(path);
  sim::SimUpdateCommands commands(link, Platform::Windows);
  SimProbe probe(link);
  Events events;
  FakeClock clock;
  const auto image = sim::MakeFirmwareImage({0, "1.03", "ZT-5100", 0, 0}, 200000);
  UpdateJob job;
  job.target = TargetCode::Main;
  job.startAddress = 524288;
  job.length = 200000;
  job.image = image;
  EXPECT_TRUE(RunUpdate(job, commands, events, clock, &probe));

  sim::Recorder after;
  ASSERT_TRUE(sim::RecorderStore(path).Read(after, error)) << error;
  EXPECT_EQ(after.main.version, "1.03");
  EXPECT_TRUE(after.last.readBack);
  EXPECT_FALSE(after.attached) << "restarting after the drive was closed";
  std::remove(path.c_str());
}

}  // namespace
