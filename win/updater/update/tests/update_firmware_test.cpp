// The Windows engine over the pass-through and a recorder on a fake drive: the computer is kept awake
// exactly while the drive is open, and let go on every way out.
#include "win/updater/update/update_firmware.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "sim/firmware_image.h"
#include "win/updater/scsi/tests/fake_device.h"

namespace {

constexpr uint32_t kE = 'E' - 'A';
constexpr EXECUTION_STATE kAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;

TEST(UpdateFirmwareTest, ComputerStaysAwakeWhileTheDriveIsOpenAndIsLetGoOnEveryPath) {
  const std::vector<uint8_t> image = sim::MakeFirmwareImage({0, "1.01", "ZT-5100"}, 70000);
  const struct {
    const char* name;
    std::function<void(sim::Recorder&)> shape;
    uint32_t drive;
    bool updated;
  } cases[] = {
      {"updated and read back", {}, kE, true},
      {"no drive to open", {}, kE + 1, false},
      {"preparation refused", [](sim::Recorder& r) { r.faults.push_back({sim::FaultKind::RefusePrepare}); }, kE, false},
      {"second piece fails",
       [](sim::Recorder& r) { r.faults.push_back({sim::FaultKind::FailCommand, 0xE402, 2}); }, kE, false},
      {"recorder pulled out while written",
       [](sim::Recorder& r) { r.faults.push_back({sim::FaultKind::Vanish, 0xE402, 2}); }, kE, false},
      {"read-back differs", [](sim::Recorder& r) { r.faults.push_back({sim::FaultKind::CorruptReadback, sim::kAnyCommand, 1, 100}); },
       kE, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Recorder recorder;
    recorder.prepareSteps = 1;
    if (c.shape) c.shape(recorder);
    fake::TheHost().Reset();
    fake::TheHost().drives['E'] = {DRIVE_REMOVABLE, &recorder};

    CUpdateFirmware engine(nullptr);
    ASSERT_FALSE(engine.ViaService()) << "these cases need the pass-through";
    const BOOL result =
        engine.RunUpdate(c.drive, TargetCode::Main, 0, static_cast<uint32_t>(image.size()), image, true, false);
    EXPECT_EQ(result != FALSE, c.updated);
    EXPECT_EQ(fake::TheHost().executionStates, (std::vector<EXECUTION_STATE>{kAwake, ES_CONTINUOUS}));
    EXPECT_EQ(fake::TheHost().opens, fake::TheHost().closes);
  }
}

// An image length the engine refuses before it opens anything keeps nothing awake.
TEST(UpdateFirmwareTest, RefusedJobAsksNothingOfTheSystem) {
  const std::vector<uint8_t> image(1000);
  fake::TheHost().Reset();
  CUpdateFirmware engine(nullptr);
  EXPECT_FALSE(engine.RunUpdate(kE, TargetCode::Main, 0, 1001, image, true, false));
  EXPECT_TRUE(fake::TheHost().executionStates.empty());
  EXPECT_EQ(fake::TheHost().opens, 0);
}

}  // namespace
