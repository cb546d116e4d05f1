#include "sim/recorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "common/commands.h"
#include "sim/firmware_image.h"

namespace {

using sim::Status;

class RecorderTest : public testing::Test {
 protected:
  struct Answer {
    Status status;
    std::vector<uint8_t> data;
  };
  Answer Run(const CommandBlock& block, std::span<const uint8_t> out = {}) {
    std::vector<uint8_t> in(block.phase == DataPhase::In ? block.transferLength : 0);
    const sim::Reply reply = recorder.Execute(std::span(block.cdb.data(), block.cdbLength), out, in, now);
    in.resize(reply.length);
    return {reply.status, in};
  }
  sim::Recorder recorder;
  uint64_t now = 5000;
};

TEST_F(RecorderTest, IdentifiesItselfAsTheCommandSetSays) {
  recorder.main.version = "1.01";
  recorder.sub.version = "2.00a";
  recorder.storageSize = 0x123456789ull;
  const auto inquiry = Run(cmd::Inquiry());
  ASSERT_EQ(inquiry.status, Status::Good);
  EXPECT_TRUE(IsRecorderVendor(inquiry.data));
  EXPECT_EQ(FixedText(inquiry.data, 8, 8), "KESTREL ");

  const auto versions = DecodeFirmwareVersions(Run(cmd::GetFirmwareVersions()).data);
  EXPECT_EQ(versions.main, std::string("1.01\0\0\0\0", 8));
  EXPECT_EQ(versions.sub, std::string("2.00a\0\0\0", 8));
  EXPECT_EQ(BigEndian32(Run(cmd::GetDeviceId()).data), 40u);
  EXPECT_EQ(BigEndian64(Run(cmd::GetStorageSize()).data), 0x123456789ull);
  EXPECT_EQ(FixedText(Run(cmd::GetModelName()).data, 0, 8), "ZT-5100 ");
  EXPECT_FALSE(NeedsStorageMode(Run(cmd::GetDeviceState()).data));

  CommandBlock serial;
  serial.cdb = {0xE0, 0x06, 0x00, 0x40};
  serial.phase = DataPhase::In;
  serial.transferLength = 64;
  EXPECT_EQ(mac::DecodeSerialId(Run(serial).data), 51000001u);
}

TEST_F(RecorderTest, SwitchesToStorageModeByLeavingAndComingBack) {
  recorder.modeByte = 3;
  recorder.modeSwitchDelayMs = 1500;
  EXPECT_TRUE(NeedsStorageMode(Run(cmd::GetDeviceState()).data));
  EXPECT_EQ(Run(cmd::GetModelName()).status, Status::CheckCondition);
  EXPECT_EQ(Run(cmd::GetDeviceId()).status, Status::Good) << "still found on its drive";

  EXPECT_EQ(Run(cmd::ChangeModeToStorage()).status, Status::Good);
  EXPECT_FALSE(recorder.attached);
  EXPECT_EQ(Run(cmd::GetDeviceId()).status, Status::NoDevice);
  now += 1499;
  recorder.Tick(now);
  EXPECT_FALSE(recorder.attached);
  now += 1;
  const uint32_t generation = recorder.generation;
  EXPECT_EQ(Run(cmd::GetModelName()).status, Status::Good);
  EXPECT_EQ(recorder.generation, generation + 1);
  EXPECT_FALSE(NeedsStorageMode(Run(cmd::GetDeviceState()).data));
}

// Told to switch, a lingering recorder answers as before until its time is up; asking again does not
// put its leaving off.
TEST_F(RecorderTest, LingeringRecorderLeavesWhenItsTimeIsUp) {
  recorder.modeByte = 3;
  recorder.modeSwitchLingerMs = 800;
  recorder.modeSwitchDelayMs = 1500;
  EXPECT_EQ(Run(cmd::ChangeModeToStorage()).status, Status::Good);
  now += 799;
  EXPECT_TRUE(NeedsStorageMode(Run(cmd::GetDeviceState()).data)) << "left before its time";
  EXPECT_EQ(Run(cmd::ChangeModeToStorage()).status, Status::Good);
  now += 1;
  EXPECT_EQ(Run(cmd::GetDeviceId()).status, Status::NoDevice);
  EXPECT_FALSE(recorder.attached);
  now += 1500;
  EXPECT_EQ(Run(cmd::GetDeviceId()).status, Status::Good);
  EXPECT_FALSE(NeedsStorageMode(Run(cmd::GetDeviceState()).data));
}

TEST_F(RecorderTest, RefusesUpdateCommandsOutOfOrder) {
  recorder.prepareSteps = 1;
  const auto image = sim::MakeFirmwareImage({1, "1.05", "ZT-5100", 0, 0}, 1000);
  const auto sub = TargetCode::Sub;
  struct Step {
    const char* what;
    CommandBlock block;
    std::vector<uint8_t> out;
    Status status;
  };
  const Step steps[] = {
      {"poll before preparing", cmd::GetPrepareRemaining(sub), {}, Status::CheckCondition},
      {"region beyond the flash", cmd::PrepareUpdate(32000, 1000, sub), {}, Status::CheckCondition},
      {"empty region", cmd::PrepareUpdate(0, 0, sub), {}, Status::CheckCondition},
      {"prepare", cmd::PrepareUpdate(1024, 1000, sub), {}, Status::Good},
      {"write before the preparation is done", cmd::WriteImage(1000, sub), image, Status::CheckCondition},
      {"poll", cmd::GetPrepareRemaining(sub), {}, Status::Good},
      {"write for the other processor", cmd::WriteImage(1000, TargetCode::Main), image, Status::CheckCondition},
      {"count differing from the data", cmd::WriteImage(999, sub), image, Status::CheckCondition},
      {"finish before everything was written", cmd::FinishWrite(sub), {}, Status::CheckCondition},
      {"write", cmd::WriteImage(1000, sub), image, Status::Good},
      {"write past the length", cmd::WriteImage(1, sub), {0}, Status::CheckCondition},
      {"finish", cmd::FinishWrite(sub), {}, Status::Good},
      {"read before the verification starts", cmd::ReadImage(10, sub), {}, Status::CheckCondition},
      {"start verification", cmd::StartVerify(1024, 1000, sub), {}, Status::Good},
      {"read past the region", cmd::ReadImage(1001, sub), {}, Status::CheckCondition},
      {"read", cmd::ReadImage(1000, sub), {}, Status::Good},
      {"end verification", cmd::FinishVerify(sub), {}, Status::Good},
      {"unknown opcode", CommandBlock{{0xE9}, 6, DataPhase::None, 0, 2, TransferForm::Buffered}, {}, Status::CheckCondition},
      {"unknown target", cmd::FinishVerify(static_cast<TargetCode>(2)), {}, Status::CheckCondition},
  };
  for (const Step& s : steps) EXPECT_EQ(Run(s.block, s.out).status, s.status) << s.what;
  EXPECT_EQ(recorder.sub.version, "1.05");
  EXPECT_TRUE(recorder.last.readBack);
  EXPECT_EQ(recorder.main.version, "1.00");
}

TEST_F(RecorderTest, VersionChangesOnlyForAnImageOfThatProcessor) {
  struct Case {
    std::vector<uint8_t> image;
    const char* version;
  };
  std::vector<uint8_t> headerless(1000, 0x5A);
  const Case cases[] = {
      {sim::MakeFirmwareImage({0, "1.07", "ZT-5100", 0, 0}, 1000), "1.07"},
      {sim::MakeFirmwareImage({1, "1.07", "ZT-5100", 0, 0}, 1000), "1.00"},  // meant for the sub processor
      {headerless, "1.00"},
  };
  for (const Case& c : cases) {
    recorder = sim::Recorder{};
    recorder.prepareSteps = 1;
    ASSERT_EQ(Run(cmd::PrepareUpdate(524288, 1000, TargetCode::Main)).status, Status::Good);
    ASSERT_EQ(Run(cmd::GetPrepareRemaining(TargetCode::Main)).status, Status::Good);
    ASSERT_EQ(Run(cmd::WriteImage(1000, TargetCode::Main), c.image).status, Status::Good);
    ASSERT_EQ(Run(cmd::FinishWrite(TargetCode::Main)).status, Status::Good);
    EXPECT_EQ(recorder.main.version, c.version);
    EXPECT_TRUE(std::equal(c.image.begin(), c.image.end(), recorder.main.flash.begin() + 524288));
  }
}

TEST_F(RecorderTest, ModelNameIsPaddedAsTheRecorderIsMade) {
  const struct {
    sim::ModelPadding padding;
    const char* model;
    std::string reply;
  } cases[] = {
      {sim::ModelPadding::Blank, "ZT-5100", "ZT-5100 "},
      {sim::ModelPadding::Zero, "ZT-5100", std::string("ZT-5100\0", 8)},
      {sim::ModelPadding::Zero, "ZT", std::string("ZT\0\0\0\0\0\0", 8)},
      {sim::ModelPadding::Zero, "ZT-5100B", "ZT-5100B"},
  };
  for (const auto& c : cases) {
    recorder.model = c.model;
    recorder.modelPadding = c.padding;
    EXPECT_EQ(FixedText(Run(cmd::GetModelName()).data, 0, 8), c.reply) << c.model;
  }
}

// From the preparation until the finish the processor's image is incomplete, and the recorder says so
// by reporting 0.00 for it, through unplugging and a new preparation, until a write is finished.
TEST_F(RecorderTest, ImageIsIncompleteFromThePreparationUntilAFinishedWrite) {
  recorder.prepareSteps = 1;
  recorder.sub.version = "1.00";
  const auto image = sim::MakeFirmwareImage({1, "1.05", "ZT-5100", 0, 0}, 1000);
  const auto sub = TargetCode::Sub;
  const std::span<const uint8_t> first(image.data(), 400), rest(image.data() + 400, 600);
  auto run = [this](CommandBlock block, std::span<const uint8_t> out = {}) {
    return [=, this] { EXPECT_EQ(Run(block, out).status, Status::Good) << sim::KeyText(sim::KeyOf(block.cdb)); };
  };
  struct Step {
    const char* what;
    std::function<void()> act;
    const char* sub;  // the sub processor's version as reported afterwards
    bool complete;
  };
  const Step steps[] = {
      {"as made", [] {}, "1.00", true},
      {"refused preparation", [this] { Run(cmd::PrepareUpdate(32000, 1000, TargetCode::Sub)); }, "1.00", true},
      {"prepared", run(cmd::PrepareUpdate(1024, 1000, sub)), "0.00", false},
      {"preparation done", run(cmd::GetPrepareRemaining(sub)), "0.00", false},
      {"partly written", run(cmd::WriteImage(400, sub), first), "0.00", false},
      {"unplugged", [this] { recorder.Unplug(); }, nullptr, false},
      {"plugged in again", [this] { recorder.Plug(); }, "0.00", false},
      {"finish without a preparation", [this] { Run(cmd::FinishWrite(TargetCode::Sub)); }, "0.00", false},
      {"prepared again", run(cmd::PrepareUpdate(1024, 1000, sub)), "0.00", false},
      {"preparation done again", run(cmd::GetPrepareRemaining(sub)), "0.00", false},
      {"first part", run(cmd::WriteImage(400, sub), first), "0.00", false},
      {"rest", run(cmd::WriteImage(600, sub), rest), "0.00", false},
      {"finished", run(cmd::FinishWrite(sub)), "1.05", true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    EXPECT_EQ(recorder.sub.imageComplete, s.complete);
    EXPECT_TRUE(recorder.main.imageComplete) << "the other processor is untouched";
    const auto versions = Run(cmd::GetFirmwareVersions());
    if (!s.sub) {
      EXPECT_EQ(versions.status, Status::NoDevice);
      continue;
    }
    const auto texts = DecodeFirmwareVersions(versions.data);
    EXPECT_EQ(texts.sub, std::string(s.sub).append(8 - std::strlen(s.sub), '\0'));
    EXPECT_EQ(texts.main, std::string("1.00\0\0\0\0", 8));
    // Identification otherwise answers as usual, so the recorder is still found.
    EXPECT_EQ(BigEndian32(Run(cmd::GetDeviceId()).data), 40u);
    EXPECT_EQ(FixedText(Run(cmd::GetModelName()).data, 0, 8), "ZT-5100 ");
  }
  EXPECT_TRUE(std::equal(image.begin(), image.end(), recorder.sub.flash.begin() + 1024));
}

TEST_F(RecorderTest, PreparationErasesOnlyItsRegion) {
  recorder.prepareSteps = 1;
  const auto image = sim::MakeFirmwareImage({0, "1.05", "ZT-5100", 0, 0}, 300);
  std::fill(recorder.main.flash.begin(), recorder.main.flash.end(), uint8_t{0x11});
  ASSERT_EQ(Run(cmd::PrepareUpdate(1000, 1000, TargetCode::Main)).status, Status::Good);
  ASSERT_EQ(Run(cmd::GetPrepareRemaining(TargetCode::Main)).status, Status::Good);
  ASSERT_EQ(Run(cmd::WriteImage(300, TargetCode::Main), image).status, Status::Good);
  const auto& flash = recorder.main.flash;
  EXPECT_EQ(flash[999], 0x11);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 1000));
  EXPECT_TRUE(std::all_of(flash.begin() + 1300, flash.begin() + 2000, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(flash[2000], 0x11);
  // The inquiry's product revision (bytes 32-35) is the main processor's version as reported.
  EXPECT_EQ(FixedText(Run(cmd::Inquiry()).data, 32, 4), "0.00");
}

TEST_F(RecorderTest, RestartsWhenReleasedAfterAFinishedWrite) {
  recorder.restartDelayMs = 100;
  recorder.HostReleased(now);
  EXPECT_TRUE(recorder.attached) << "nothing was written";
  recorder.prepareSteps = 1;
  const auto image = sim::MakeFirmwareImage({0, "1.07", "ZT-5100", 0, 0}, 100);
  Run(cmd::PrepareUpdate(524288, 100, TargetCode::Main));
  EXPECT_FALSE(recorder.volumeMounted);
  Run(cmd::GetPrepareRemaining(TargetCode::Main));
  Run(cmd::WriteImage(100, TargetCode::Main), image);
  Run(cmd::FinishWrite(TargetCode::Main));
  recorder.HostReleased(now);
  EXPECT_FALSE(recorder.attached);
  recorder.Tick(now + 100);
  EXPECT_TRUE(recorder.attached);
  EXPECT_TRUE(recorder.volumeMounted);
  EXPECT_FALSE(recorder.session.active);
}

TEST_F(RecorderTest, FaultsFireAtTheirCall) {
  struct Case {
    const char* fault;
    Status second;  // status of the second GetDeviceId
    bool attachedAfter;
  };
  const Case cases[] = {{"fail E0-0B 2", Status::CheckCondition, true},
                        {"stall E0 0B 2", Status::TimedOut, true},
                        {"vanish any 2", Status::NoDevice, false},
                        {"fail 12 1", Status::Good, true}};
  for (const Case& c : cases) {
    recorder = sim::Recorder{};
    sim::Fault fault;
    std::string error;
    ASSERT_TRUE(sim::ParseFault(c.fault, fault, error)) << error;
    recorder.faults.push_back(fault);
    EXPECT_EQ(Run(cmd::GetDeviceId()).status, Status::Good) << c.fault;
    EXPECT_EQ(Run(cmd::GetDeviceId()).status, c.second) << c.fault;
    EXPECT_EQ(recorder.attached, c.attachedAfter) << c.fault;
    if (c.attachedAfter) {
      EXPECT_EQ(Run(cmd::GetDeviceId()).status, Status::Good) << c.fault << ": fires once";
    }
  }
}

TEST(Faults, TextRoundTripsAndBadTextIsRefused) {
  const char* good[] = {"fail E4 02 3", "stall E4 03 1", "vanish any 5", "refuse-prepare", "extra-steps 2 4",
                        "corrupt-readback 100", "keep-volume", "refuse-verify", "fail 12 1"};
  for (const char* text : good) {
    sim::Fault fault;
    std::string error;
    ASSERT_TRUE(sim::ParseFault(text, fault, error)) << text << ": " << error;
    EXPECT_EQ(sim::FaultText(fault), text);
  }
  const char* bad[] = {"", "fail", "fail E4", "fail E4 02 0", "fail E4 02 x", "fail E4 02 1 2", "fail ZZ",
                       "explode", "keep-volume now", "corrupt-readback -1", "fail 13 02"};
  for (const char* text : bad) {
    sim::Fault fault;
    std::string error;
    EXPECT_FALSE(sim::ParseFault(text, fault, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
