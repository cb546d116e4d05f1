// The simulated host as the command layer sees it: a removable drive that holds the recorder.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>

#include "sim/state_file.h"
#include "win/device/device_io.h"
#include "win/device/pass_through.h"
#include "win/device/sim_host.h"

namespace {

struct Buffered {
  SCSI_PASS_THROUGH spt;
  ULONG filler;
  UCHAR sense[32];
  UCHAR data[256];
};

class SimHostTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = (std::filesystem::temp_directory_path() / "zt-device-sim-test.sim").string();
    _putenv_s("ZT_SIM_RECORDER", path_.c_str());
    _putenv_s("ZT_SIM_DRIVE", "R");
  }
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim::RecorderStore(path_).Create(sim::Recorder{}, error)) << error;
  }
  static void TearDownTestSuite() { std::filesystem::remove(path_); }

  static bool Query(HANDLE volume, uint8_t op, uint8_t sub, Buffered& b) {
    b = Buffered{};
    b.spt.Length = sizeof(SCSI_PASS_THROUGH);
    b.spt.CdbLength = 6;
    b.spt.SenseInfoLength = 24;
    b.spt.DataIn = SCSI_IOCTL_DATA_IN;
    b.spt.DataTransferLength = 256;
    b.spt.TimeOutValue = 2;
    b.spt.DataBufferOffset = offsetof(Buffered, data);
    b.spt.SenseInfoOffset = offsetof(Buffered, sense);
    b.spt.Cdb[0] = op;
    b.spt.Cdb[1] = sub;
    b.spt.Cdb[3] = op == 0x12 ? 0 : 8;
    b.spt.Cdb[4] = op == 0x12 ? 0xFF : 0;
    DWORD returned = 0;
    return device::IoControl(volume, IOCTL_SCSI_PASS_THROUGH, &b, sizeof(SCSI_PASS_THROUGH), &b, 336, &returned);
  }

  static std::string path_;
};
std::string SimHostTest::path_;

TEST_F(SimHostTest, TheRecorderIsARemovableDriveThatAnswers) {
  EXPECT_EQ(device::SimulatedDriveLetter(), 'R');
  EXPECT_NE(device::LogicalDrives() & (1u << ('R' - 'A')), 0u);
  EXPECT_EQ(device::DriveType("R:\\"), static_cast<UINT>(DRIVE_REMOVABLE));

  const HANDLE volume = device::OpenVolume("\\\\.\\R:");
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  Buffered b;
  ASSERT_TRUE(Query(volume, 0x12, 0, b));
  EXPECT_EQ(b.spt.ScsiStatus, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data + 8), 7), "KESTREL");
  EXPECT_EQ(b.spt.DataTransferLength, 36u);

  ASSERT_TRUE(Query(volume, 0xE0, 0x05, b)) << "an unknown query still gets an answer";
  EXPECT_EQ(b.spt.ScsiStatus, 2) << "CHECK CONDITION";
  EXPECT_EQ(b.sense[2], 0x05) << "ILLEGAL REQUEST";

  DWORD max = 0, flags = 0;
  EXPECT_TRUE(device::VolumeInformation("R:\\", &max, &flags));
  device::CloseVolume(volume);
}

TEST_F(SimHostTest, AnUnpluggedRecorderIsNoDrive) {
  const HANDLE volume = device::OpenVolume("\\\\.\\R:");
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  std::string error;
  ASSERT_TRUE(sim::RecorderStore(path_).Update([](sim::Recorder& r) { return r.Unplug(), true; }, error));

  Buffered b;
  EXPECT_FALSE(Query(volume, 0x12, 0, b));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  device::CloseVolume(volume);

  EXPECT_EQ(device::LogicalDrives() & (1u << ('R' - 'A')), 0u);
  EXPECT_EQ(device::OpenVolume("\\\\.\\R:"), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(device::VolumeInformation("R:\\", nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
}

TEST_F(SimHostTest, OtherDrivesAreTheSystems) {
  EXPECT_EQ(device::DriveType("C:\\"), GetDriveTypeA("C:\\"));
  const HANDLE none = device::OpenVolume("\\\\.\\Q:");
  EXPECT_EQ(none, INVALID_HANDLE_VALUE);
}

}  // namespace
