// The pass-through transport and the facade against a fake system of drives.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "win/updater/scsi/scsi_command.h"
#include "win/updater/scsi/scsi_command_spti.h"
#include "win/updater/scsi/tests/fake_device.h"

namespace {

constexpr uint32_t kE = 'E' - 'A';

class SptiTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::TheHost().Reset();
    fake::TheHost().drives['E'] = {DRIVE_REMOVABLE, &recorder_};
  }
  sim::Recorder recorder_;
  CScsiCommandSpti spti_;
};

struct RequestCase {
  const char* what;
  std::function<bool(CScsiCommandSpti&)> call;
  CommandBlock block;
};

TEST_F(SptiTest, EveryRequestIsLaidOutExactly) {
  static uint8_t image[65536];
  static uint8_t readBack[65537];
  recorder_.prepareSteps = 0;
  const RequestCase cases[] = {
      {"Inquiry", [](CScsiCommandSpti& s) { uint8_t q[32]; return s.Inquiry(q); }, cmd::Inquiry()},
      {"GetModelName", [](CScsiCommandSpti& s) { std::string m; return s.GetModelName(m); }, cmd::GetModelName()},
      {"GetDeviceState", [](CScsiCommandSpti& s) { uint8_t b[8]; return s.GetDeviceState(b, 8); }, cmd::GetDeviceState()},
      {"GetFirmwareVersions", [](CScsiCommandSpti& s) { std::string a, b; return s.GetFirmwareVersions(a, b); },
       cmd::GetFirmwareVersions()},
      {"GetDeviceId", [](CScsiCommandSpti& s) { uint32_t id; return s.GetDeviceId(id); }, cmd::GetDeviceId()},
      {"GetStorageSize", [](CScsiCommandSpti& s) { uint64_t n; return s.GetStorageSize(n); }, cmd::GetStorageSize()},
      {"PrepareUpdate", [](CScsiCommandSpti& s) { uint16_t n; return s.PrepareUpdate(524288, 65536, TargetCode::Main, n); },
       cmd::PrepareUpdate(524288, 65536, TargetCode::Main)},
      {"GetPrepareRemaining", [](CScsiCommandSpti& s) { uint16_t n; return s.GetPrepareRemaining(TargetCode::Main, n); },
       cmd::GetPrepareRemaining(TargetCode::Main)},
      {"WriteImage", [](CScsiCommandSpti& s) { return s.WriteImage(image, 65536, TargetCode::Main); },
       cmd::WriteImage(65536, TargetCode::Main)},
      {"FinishWrite", [](CScsiCommandSpti& s) { return s.FinishWrite(TargetCode::Main); }, cmd::FinishWrite(TargetCode::Main)},
      {"StartVerify", [](CScsiCommandSpti& s) { return s.StartVerify(524288, 65536, TargetCode::Main); },
       cmd::StartVerify(524288, 65536, TargetCode::Main)},
      {"ReadImage", [](CScsiCommandSpti& s) { return s.ReadImage(readBack, 65536, TargetCode::Main); },
       cmd::ReadImage(65536, TargetCode::Main)},
      {"FinishVerify", [](CScsiCommandSpti& s) { return s.FinishVerify(TargetCode::Main); }, cmd::FinishVerify(TargetCode::Main)},
      {"ChangeModeToStorage", [](CScsiCommandSpti& s) { return s.ChangeModeToStorage(0); }, cmd::ChangeModeToStorage()},
  };
  ASSERT_TRUE(spti_.Open(kE));
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(c.what);
    fake::TheHost().requests.clear();
    EXPECT_TRUE(c.call(spti_));
    ASSERT_EQ(fake::TheHost().requests.size(), 1u);
    const fake::Request& r = fake::TheHost().requests[0];
    const std::vector<uint8_t> cdb(c.block.cdb.begin(), c.block.cdb.begin() + c.block.cdbLength);
    EXPECT_EQ(r.cdb, cdb);
    if (c.block.form == TransferForm::Buffered) {
      EXPECT_EQ(r.code, static_cast<DWORD>(IOCTL_SCSI_PASS_THROUGH));
      EXPECT_EQ(r.inSize, 44u);
      EXPECT_EQ(r.outSize, c.block.transferLength ? 336u : 80u);
      EXPECT_EQ(r.buffered.Length, 44);
      EXPECT_EQ(r.buffered.SenseInfoLength, 24);
      EXPECT_EQ(r.buffered.SenseInfoOffset, 48u);
      EXPECT_EQ(r.buffered.DataBufferOffset, 80u);
      EXPECT_EQ(r.buffered.DataIn, static_cast<UCHAR>(c.block.phase));
      EXPECT_EQ(r.buffered.DataTransferLength, c.block.transferLength);
      EXPECT_EQ(r.buffered.TimeOutValue, c.block.timeoutSeconds);
      EXPECT_EQ(r.buffered.PathId + r.buffered.TargetId + r.buffered.Lun, 0);
    } else {
      EXPECT_EQ(r.code, static_cast<DWORD>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
      EXPECT_EQ(r.inSize, 80u);
      EXPECT_EQ(r.outSize, 80u);
      EXPECT_EQ(r.direct.Length, 44);
      EXPECT_EQ(r.direct.SenseInfoOffset, 48u);
      EXPECT_EQ(r.direct.DataIn, static_cast<UCHAR>(c.block.phase));
      EXPECT_EQ(r.direct.DataTransferLength, c.block.transferLength);
      EXPECT_EQ(r.direct.TimeOutValue, c.block.timeoutSeconds);
      EXPECT_EQ(r.direct.DataBuffer == nullptr, c.block.transferLength == 0);
    }
  }
  spti_.Close();
}

TEST_F(SptiTest, FailedCallsAreRetriedRefusalsAreNot) {
  struct Case {
    const char* what;
    int failCalls;
    bool refuse;
    bool result;
    size_t calls;
  };
  const Case cases[] = {{"nine failures then success", 9, false, true, 10},
                        {"ten failures", 10, false, false, 10},
                        {"check condition", 0, true, false, 1}};
  ASSERT_TRUE(spti_.Open(kE));
  for (const Case& c : cases) {
    fake::TheHost().requests.clear();
    fake::TheHost().failCalls = c.failCalls;
    recorder_.faults.clear();
    if (c.refuse) recorder_.faults.push_back({sim::FaultKind::FailCommand, 0xE00B, 1, 0, 0});
    uint32_t id = 0;
    EXPECT_EQ(spti_.GetDeviceId(id), c.result) << c.what;
    EXPECT_EQ(fake::TheHost().requests.size(), c.calls) << c.what;
  }
  spti_.Close();
}

TEST_F(SptiTest, FindsOnlyRemovableRecordersFromCOn) {
  sim::Recorder other;
  other.vendor = "ACME";
  sim::Recorder wrongId;
  wrongId.deviceId = 41;
  sim::Recorder a, b, fixed, f, g;
  auto& drives = fake::TheHost().drives;
  drives.clear();
  drives['A'] = {DRIVE_REMOVABLE, &a};
  drives['B'] = {DRIVE_REMOVABLE, &b};
  drives['C'] = {DRIVE_FIXED, &fixed};
  drives['D'] = {DRIVE_REMOVABLE, &other};
  drives['E'] = {DRIVE_REMOVABLE, &wrongId};
  drives['F'] = {DRIVE_REMOVABLE, nullptr};
  drives['G'] = {DRIVE_REMOVABLE, &g};
  drives['H'] = {DRIVE_REMOVABLE, &f};
  EXPECT_EQ(spti_.FindDevice(40), 'G' - 'A') << "the lowest letter that holds the recorder";
  EXPECT_EQ(spti_.CheckDrive('D' - 'A', 40), NotFound) << "another vendor";
  EXPECT_EQ(spti_.CheckDrive('E' - 'A', 40), NotFound) << "another device id";
  EXPECT_EQ(spti_.CheckDrive('E' - 'A', 41), 'E' - 'A');
  EXPECT_EQ(spti_.CheckDrive('C' - 'A', 40), 'C' - 'A') << "CheckDrive itself does not look at the type";
  drives.erase('G');
  drives.erase('H');
  EXPECT_EQ(spti_.FindDevice(40), NotFound) << "never A:, B: or a fixed disk";
  EXPECT_EQ(fake::TheHost().opens, fake::TheHost().closes) << "every drive opened was closed";
}

TEST_F(SptiTest, DeviceLockHeldElsewhereMakesOpenWaitAboutTenSecondsThenFail) {
  HANDLE held = CreateMutexA(nullptr, FALSE, "RV1_API_MUTEX");
  ASSERT_NE(held, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(spti_.Open(kE));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(9));
  EXPECT_LT(waited, std::chrono::seconds(20));

  std::thread release([held] {
    Sleep(1500);
    CloseHandle(held);
  });
  EXPECT_TRUE(spti_.Open(kE)) << "the lock is taken once its holder lets go";
  release.join();
  spti_.Close();
}

// An open drive opened again, or another drive opened, lets go of the first volume at once.
TEST_F(SptiTest, OpenWhileOpenReleasesTheFirstVolume) {
  fake::TheHost().drives['F'] = {DRIVE_REMOVABLE, &recorder_};
  for (const uint32_t second : {kE, kE + 1}) {
    SCOPED_TRACE(second == kE ? "same drive" : "other drive");
    ASSERT_TRUE(spti_.Open(kE));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(spti_.Open(second));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "waited for its own lock";
    EXPECT_EQ(fake::TheHost().opens, fake::TheHost().closes + 1) << "one volume open";
    spti_.Close();
    EXPECT_EQ(fake::TheHost().opens, fake::TheHost().closes);
  }
}

TEST_F(SptiTest, FailedOpenLeavesTheLockFree) {
  EXPECT_FALSE(spti_.Open('Q' - 'A'));
  HANDLE probe = CreateMutexA(nullptr, FALSE, "RV1_API_MUTEX");
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(probe);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(spti_.Open(kE));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  spti_.Close();
}

TEST_F(SptiTest, FacadeBracketsIdentificationAndEmptiesOutputs) {
  recorder_.main.version = "1.01";
  CScsiCommand command(1);
  std::string main = "stale", sub = "stale";
  ASSERT_TRUE(command.GetFirmwareVersions(kE, main, sub));
  EXPECT_EQ(main, std::string("1.01\0\0\0\0", 8));
  EXPECT_EQ(fake::TheHost().opens, 1);
  EXPECT_EQ(fake::TheHost().closes, 1);

  main = "stale";
  EXPECT_FALSE(command.GetFirmwareVersions('Q' - 'A', main, sub));
  EXPECT_TRUE(main.empty()) << "emptied before the drive is opened";
  EXPECT_EQ(fake::TheHost().closes, 1) << "a drive that did not open is not closed";

  uint64_t size = 7;
  recorder_.faults.push_back({sim::FaultKind::FailCommand, 0xE012, 1, 0, 0});
  EXPECT_FALSE(command.GetStorageSize(kE, size));
  EXPECT_EQ(size, 7u) << "handed out only on success";
  EXPECT_EQ(command.FindDevice(40), kE);
  EXPECT_FALSE(command.ViaService());
}

TEST_F(SptiTest, FacadeWithoutTransportFailsEverything) {
  CScsiCommand none(2);
  std::string text;
  uint64_t size = 0;
  uint16_t steps = 0;
  EXPECT_EQ(none.FindDevice(40), NotFound);
  EXPECT_EQ(none.CheckDrive(kE, 40), NotFound);
  EXPECT_FALSE(none.Open(kE));
  EXPECT_FALSE(none.Close());
  EXPECT_FALSE(none.GetModelName(kE, text));
  EXPECT_FALSE(none.GetStorageSize(kE, size));
  EXPECT_FALSE(none.PrepareUpdate(0, 1, TargetCode::Main, steps));
  EXPECT_TRUE(fake::TheHost().requests.empty());
}

}  // namespace

// Pass-through needs the Administrators group enabled; a deny-only membership (an administrator
// started without elevation) must choose the device access service instead.
TEST(AdministratorTest, OnlyAnEnabledMembershipCounts) {
  constexpr DWORD kEnabled = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;
  const struct {
    const char* name;
    std::vector<TokenGroupView> groups;
    bool administrator;
  } cases[] = {
      {"enabled", {{false, kEnabled}, {true, kEnabled}}, true},
      {"enabled, owner", {{true, kEnabled | SE_GROUP_OWNER}}, true},
      {"deny-only", {{false, kEnabled}, {true, SE_GROUP_USE_FOR_DENY_ONLY}}, false},
      {"deny-only, still marked enabled", {{true, SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY}}, false},
      {"present, not enabled", {{true, SE_GROUP_ENABLED_BY_DEFAULT}}, false},
      {"absent", {{false, kEnabled}, {false, kEnabled}}, false},
      {"no groups", {}, false},
      {"other groups enabled, Administrators deny-only", {{true, SE_GROUP_USE_FOR_DENY_ONLY}, {false, kEnabled}}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsEnabledAdministrator(c.groups), c.administrator) << c.name;
  }
}
