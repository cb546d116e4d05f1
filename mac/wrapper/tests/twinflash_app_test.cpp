// RSReflashController in process, over a simulated Mac with the bundle of the build on its disk and a
// shell that only records its commands: the poll after a stage, also while a menu is held open, and
// the quit refused on page 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mac/platform/platform.h"
#include "mac/shared/library.h"
#include "mac/shared/markers.h"
#include "mac/wrapper/rs_reflash_controller.h"

namespace fs = std::filesystem;

namespace {

class TwinflashMac : public testing::Test {
 protected:
  static mac::PlatformOptions Options() {
    mac::PlatformOptions o;
    o.applicationName = "TWINFLASH";
    o.bundlePath = "/Applications/Twinflash.app";
    o.executableName = "Twinflash";
    return o;
  }

  TwinflashMac() : mac_(Options()), installation_(mac_), library_(mac_, MacProgram::Twinflash) {
    const fs::path bundle = *mac_.fileManager().hostPath("/Applications/Twinflash.app");
    fs::copy(TWINFLASH_APP, bundle, fs::copy_options::recursive);
    const fs::path kext = *mac_.fileManager().hostPath("/System/Library/Extensions/KestrelDSSDriver.kext");
    fs::copy(bundle / "Contents/Resources/KextV2/KestrelDSSDriver.kext", kext, fs::copy_options::recursive);
    mac_.processes().setShell([this](std::string_view command) {
      commands_.emplace_back(command);
      if (stageLeavesMarker_) mac_.fileManager().createDirectoryAtPath(kCompleteCheckDir);
      return 0;
    });
    controller_ = std::make_unique<RSReflashController>(mac_);
    controller_->applicationWillFinishLaunching();
  }
  ~TwinflashMac() override { controller_.reset(); }

  // The run loop in `mode` only, for a little more than the poll's interval.
  void Pass(mac::RunLoopMode mode) {
    const uint64_t until = mac_.clock().nowMs() + 600;
    while (!mac_.application().isTerminated() && mac_.runLoop().runOnce(mode, until)) {
    }
  }
  bool Marker() { return mac_.fileManager().fileExistsAtPath(kCompleteCheckDir); }

  mac::Platform mac_;
  mac::Platform::Installation installation_;
  MacLibrary library_;
  std::vector<std::string> commands_;
  bool stageLeavesMarker_ = true;
  std::unique_ptr<RSReflashController> controller_;
};

TEST_F(TwinflashMac, ThePollShowsPage2AfterStage1EvenWhileAMenuIsHeldOpen) {
  RSReflashController& c = *controller_;
  ASSERT_EQ(c.errStatus(), kStartReady);
  ASSERT_EQ(c.wizardNo(), 1u);

  c.Wizard1Btn2Action();
  ASSERT_EQ(commands_.size(), 1u);
  EXPECT_EQ(commands_[0], "/Applications/Twinflash.app/Contents/Resources/MODULES/Reflash1.app/Contents/MacOS/Reflash -nc1");
  EXPECT_FALSE(c.window().isVisible()) << "hidden while the stage runs";
  EXPECT_EQ(c.updateNo(), 1u);

  // A stage updater still listed: the poll waits for it.
  const mac::pid_t stage = mac_.processes().start("Reflash", "Firmware Update", 501, "/x/Reflash1.app", true);
  Pass(mac::RunLoopMode::EventTracking);
  EXPECT_EQ(c.wizardNo(), 1u);
  EXPECT_TRUE(c.pollTimerRunning());
  mac_.processes().stop(stage);

  Pass(mac::RunLoopMode::EventTracking);
  EXPECT_EQ(c.wizardNo(), 2u);
  EXPECT_FALSE(c.pollTimerRunning());
  EXPECT_TRUE(c.window().isVisible());
  EXPECT_FALSE(Marker()) << "the poll removes the marker it has read";

  // Page 2: neither the menu, nor the close button, nor a quit request ends the application.
  mac::MenuItem* quit = mac_.application().mainMenu().findItem("Quit Firmware Update");
  ASSERT_NE(quit, nullptr);
  EXPECT_FALSE(quit->choose());
  EXPECT_FALSE(c.window().standardWindowButton(mac::WindowButton::Close).isEnabled());
  c.window().performClose();
  mac_.application().terminate();
  EXPECT_TRUE(c.window().isVisible());
  EXPECT_FALSE(mac_.application().isTerminated());

  // Stage 2: the marker is not removed before it, and its end closes the window whatever it left.
  stageLeavesMarker_ = false;
  c.Wizard2Btn1Action();
  EXPECT_EQ(commands_.back(), "/Applications/Twinflash.app/Contents/Resources/MODULES/Reflash2.app/Contents/MacOS/Reflash -nc2");
  Pass(mac::RunLoopMode::Default);
  EXPECT_EQ(c.wizardNo(), 0u);
  EXPECT_TRUE(mac_.application().isTerminated());
}

TEST_F(TwinflashMac, Stage1WithoutTheMarkerClosesTheWindow) {
  stageLeavesMarker_ = false;
  mac_.fileManager().createDirectoryAtPath(kCompleteCheckDir);  // left by an earlier run
  controller_->Wizard1Btn2Action();
  Pass(mac::RunLoopMode::Default);
  EXPECT_EQ(controller_->wizardNo(), 1u);
  EXPECT_TRUE(mac_.application().isTerminated());
}

}  // namespace
