// Reflash's controller, pages and sheets in process, over a simulated Mac with the bundle of the
// build on its disk and a simulated recorder on its bus; the simulated user answers.
#include <gtest/gtest.h>

#include <functional>

#include "mac/shared/system.h"
#include "mac/updater/tests/reflash_fixture.h"

namespace {

// The one-button alert's button is titled with glossary text 13101 once the texts are loaded.
constexpr const char* kAlertButton = "Yes";

struct LaunchCase {
  const char* name;
  std::function<void(ReflashMac&)> arrange;
  const char* message;  // shown before the end; null: none
  std::function<void(mac::Simulation&)> answer;
};

TEST(ReflashLaunch, EachCheckFailingInTurnEndsTheProgramWithItsMessage) {
  auto removeResource = [](const char* name) {
    return [name](ReflashMac& m) { m.mac().fileManager().removeFileAtPath(m.resources() + "/" + name); };
  };
  auto ok = [](mac::Simulation& user) { user.click("OK"); };
  auto yes = [](mac::Simulation& user) { user.click(kAlertButton); };
  auto panel = [](mac::Simulation& user) { user.answerAlert(1); };
  const LaunchCase cases[] = {
      {"configuration missing", removeResource("FwUpDate.INI"), nullptr, nullptr},
      {"configuration refused", [](ReflashMac& m) { m.EditIni("Traget=MAIN", "Target=MAIN"); },
       "初期設定ファイルの「Target」キーが見つかりません。", panel},
      {"wizard1.jpg", removeResource("wizard1.jpg"), "[wizard1.jpg]ファイルが存在しません。", ok},
      {"wizard2.jpg", removeResource("wizard2.jpg"), "[wizard2.jpg]ファイルが存在しません。", ok},
      {"wizard3.jpg and later ones: the first is named",
       [](ReflashMac& m) {
         m.mac().fileManager().removeFileAtPath(m.resources() + "/wizard3.jpg");
         m.mac().fileManager().removeFileAtPath(m.resources() + "/Firm.bin");
       },
       "[wizard3.jpg]ファイルが存在しません。", ok},
      {"glossaries.txt", removeResource("glossaries.txt"), "[glossaries.txt]ファイルが存在しません。", ok},
      {"KextV3", removeResource("KextV3"), "[KestrelDSSDriver.kext]ファイルが存在しません。", ok},
      {"a kext named in another case",
       [](ReflashMac& m) {
         m.mac().fileManager().movePath(m.resources() + "/KextV2/KestrelDSSDriver.kext", m.resources() + "/KextV2/x");
         m.mac().fileManager().movePath(m.resources() + "/KextV2/x", m.resources() + "/KextV2/kestrelDSSdriver.kext");
       },
       "[KestrelDSSDriver.kext]ファイルが存在しません。", ok},
      {"Firm.bin", removeResource("Firm.bin"), "[Firm.bin]ファイルが存在しません。", ok},
      {"Firm2.bin with a FIRMWARE2 section",
       [](ReflashMac& m) {
         m.EditIni("[VOXPLAYER]", "[FIRMWARE2]\nStartAddress=1\nLength=2\nModel=M\nVersion=1.0\nDeviceID=41\nType=CUSTOMER\nTraget=SUB\n[VOXPLAYER]");
       },
       "[Firm2.bin]ファイルが存在しません。", ok},
      {"reboot marker", [](ReflashMac& m) { m.mac().fileManager().createDirectoryAtPath(kRebootCheckDir); },
       "The system restart is required to update the firmware.", yes},
      {"old system", nullptr, "The application cannot be opened due to imcompatibility with this operating system.", yes},
      {"two users", [](ReflashMac& m) { m.mac().processes().logInUser(502); },
       "Another user is logging in.　A single user should log in to start the firmware update.", yes},
      {"another updater running",
       [](ReflashMac& m) { m.mac().processes().start("Reflash", "Firmware Update", 501, "/Applications/Other/Reflash.app", true); },
       "The firmware update has already started.", yes},
      {"the player running", [](ReflashMac& m) { m.mac().workspace().launch("VoxPlayer"); },
       "The VoxPlayer is running.  Please close the VoxPlayer to start the firmware update.", yes},
  };
  for (const LaunchCase& c : cases) {
    SCOPED_TRACE(c.name);
    ReflashOptions o;
    if (std::string(c.name) == "old system") o.systemVersion = "10.4.11";
    ReflashMac m(o);
    if (c.arrange) c.arrange(m);
    if (c.answer) c.answer(m.user());
    m.Launch();
    m.Run();
    EXPECT_TRUE(m.Ended());
    if (c.message) {
      EXPECT_TRUE(m.mac().transcript().contains(c.message)) << m.Transcript();
    }
    EXPECT_EQ(m.Page(), 0) << "no page was shown";
    EXPECT_FALSE(FwUpDeviceManager::isGlobalObject());
  }
}

TEST(ReflashLaunch, ThePlayerAdmittedAndOnlyFirm2MissingWithoutItsSectionPass) {
  ReflashMac m;
  m.EditIni("AdmitLaunch=NO", "AdmitLaunch=YES");
  m.mac().workspace().launch("VoxPlayer");
  m.Launch();
  m.Run();
  EXPECT_FALSE(m.Ended());
  EXPECT_EQ(m.Page(), kMacPageConfirm);
}

TEST(ReflashLaunch, PlugMonitorIsStoppedForTheRunAndStartedAgainAtTheEnd) {
  ReflashMac m;
  m.mac().processes().start("Plug Monitor", "Plug Monitor", 501);
  m.Write(std::string(kPlugMonitorPath) + "/Contents/Info.plist", "x");
  m.user().click("Cancel");
  m.Launch();
  EXPECT_FALSE(m.controller->isRunningPlugMonitor());
  m.Run();
  EXPECT_TRUE(m.Ended());
  EXPECT_TRUE(m.controller->isRunningPlugMonitor());
}

struct PageCase {
  const char* type;
  const char* recorderVersion;  // the bundle carries 1.01
  std::vector<std::string> arguments;
  MacPage page;
  const char* button;
  bool marker;
};

TEST(ReflashFirstPage, ByTypeVersionAndRunMode) {
  const PageCase cases[] = {
      {"FACTORY", "1.02", {}, kMacPageConfirm, "Start", false},
      {"FACTORY", "1.01", {"-nc1"}, kMacPageConfirm, "Start", false},
      {"CUSTOMER", "1.00", {}, kMacPageConfirm, "Next", false},
      {"CUSTOMER", "1.01", {}, kMacPageNoUpdate, "Finish", false},
      {"CUSTOMER", "1.02", {}, kMacPageNoUpdate, "Finish", false},
      {"CUSTOMER", "1.00", {"-nc1"}, kMacPageConfirm, "Next", false},
      {"CUSTOMER", "1.01", {"-nc1"}, kMacPageConfirm, "Next", false},
      {"CUSTOMER", "1.02", {"-nc1"}, kMacPageNoUpdate, "Next", true},
      {"CUSTOMER", "1.01", {"-nc2"}, kMacPageConfirm, "Next", false},
      {"CUSTOMER", "1.02", {"-nc2"}, kMacPageNoUpdate, "Finish", true},
  };
  for (const PageCase& c : cases) {
    const std::string what = std::string(c.type) + " recorder " + c.recorderVersion + (c.arguments.empty() ? "" : " " + c.arguments[0]);
    SCOPED_TRACE(what);
    ReflashOptions o;
    o.arguments = c.arguments;
    ReflashMac m(o);
    m.recorder.main.version = c.recorderVersion;
    m.EditIni("Type=FACTORY", std::string("Type=") + c.type);
    m.Launch();
    m.Run(mac::Milliseconds(0));
    EXPECT_EQ(m.Page(), c.page);
    EXPECT_EQ(m.mac().fileManager().fileExistsAtPath(kCompleteCheckDir), c.marker);
    FwUpWizardController* page = m.controller->page(c.page);
    const mac::Button* button = c.page == kMacPageConfirm ? page->secondButton() : page->firstButton();
    EXPECT_EQ(button->title(), c.button);
    // The no-update page gives the close button back and lifts the quit lock.
    if (c.page == kMacPageNoUpdate) {
      EXPECT_EQ(GetDisabledAppTerminate(), 0);
    }
  }
}

TEST(ReflashFirstPage, InvalidDeviceGivesPageSixWhoseFinishTheQuitLockDisables) {
  ReflashOptions o;
  o.arguments = {"-nc2"};
  ReflashMac m(o);
  m.recorder.deviceId = 99;
  m.Launch();
  EXPECT_EQ(m.Page(), kMacPageInvalid);
  EXPECT_FALSE(m.controller->page(kMacPageInvalid)->firstButton()->isEnabled());
  EXPECT_FALSE(m.mac().application().mainMenu().findItem("Quit Firmware Update")->isEnabled());
  EXPECT_TRUE(m.mac().transcript().contains("This firmware can not update the connected device."));
}

TEST(ReflashFirstPage, JapaneseTexts) {
  ReflashOptions o;
  o.languages = {"ja"};
  o.localizations = {"Japanese"};
  ReflashMac m(o);
  m.Launch();
  EXPECT_EQ(m.mac().application().windows().front()->title(), "ファームウェアアップデートプログラム");
  EXPECT_EQ(m.controller->page(kMacPageConfirm)->secondButton()->title(), "開始");
}

struct UpdateCase {
  bool mainProcessor;
  std::vector<std::string> arguments;
};

TEST(ReflashUpdate, EndToEndForEachProcessorAndRunMode) {
  const UpdateCase cases[] = {{true, {}}, {true, {"-nc1"}}, {true, {"-nc2"}}, {false, {}}, {false, {"-nc1"}}, {false, {"-nc2"}}};
  for (const UpdateCase& c : cases) {
    const int mode = c.arguments.empty() ? 0 : c.arguments[0] == "-nc1" ? 1 : 2;
    SCOPED_TRACE(std::string(c.mainProcessor ? "main" : "sub") + " mode " + std::to_string(mode));
    ReflashOptions o;
    o.mainProcessor = c.mainProcessor;
    o.arguments = c.arguments;
    ReflashMac m(o);
    m.user().click("Start");
    if (mode != 1) m.user().click("Finish");
    m.Launch();
    m.Run();
    EXPECT_TRUE(m.Ended()) << m.Transcript();
    const sim::Processor& updated = c.mainProcessor ? m.recorder.main : m.recorder.sub;
    EXPECT_EQ(updated.version, "1.01");
    EXPECT_EQ((c.mainProcessor ? m.recorder.sub : m.recorder.main).version, "1.00");
    EXPECT_TRUE(m.recorder.last.readBack) << "verified on both processors";
    EXPECT_EQ(m.mac().fileManager().fileExistsAtPath(kCompleteCheckDir), mode != 0);
    EXPECT_EQ(m.mac().transcript().contains("The firmware has been successfully updated to version 1.01."), mode != 1);
    EXPECT_TRUE(m.mac().transcript().contains("power assertion PreventUserIdleSystemSleep taken"));
    EXPECT_EQ(m.mac().power().activeAssertions(), 0u);
    EXPECT_EQ(m.mac().iokit().openConnections(), 0u);
    EXPECT_EQ(m.mac().iokit().objectsHeld(), 0u);
  }
}

TEST(ReflashUpdate, SubProcessorFinishingWaitEndsWithItsThread) {
  ReflashOptions o;
  o.mainProcessor = false;
  ReflashMac m(o);
  m.user().click("Start");
  m.Launch();
  m.user().runUntil([&] { return m.Page() == kMacPageFinished; }, mac::Milliseconds(60000));
  // Ejection 1 s, preparation pause 1 s, then one round of a second and one more for the recorder.
  EXPECT_LT(m.mac().clock().nowMs(), 10000u) << "not the full twenty seconds";
}

TEST(ReflashUpdate, SecondFirmwareEntryChosenByTheDeviceId) {
  ReflashMac m;
  std::vector<uint8_t> image = *m.mac().fileManager().contentsAtPath(m.resources() + "/Firm.bin");
  image.back() ^= 0x5A;  // the second image differs from the first
  m.mac().fileManager().createFileAtPath(m.resources() + "/Firm2.bin", image);
  m.EditIni("[VOXPLAYER]", "[FIRMWARE2]\nStartAddress=524288\nLength=1572864\nModel=ZT-5100B\nVersion=1.01\nDeviceID=41\n"
                          "Type=FACTORY\nTraget=MAIN\n[VOXPLAYER]");
  m.recorder.deviceId = 41;
  m.user().click("Start");
  m.Launch();
  m.user().runMoves();
  EXPECT_EQ(m.Page(), kMacPageFinished);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), m.recorder.main.flash.begin() + 524288));
  EXPECT_TRUE(FwUpIniFileManager::getObject()->isFirm2Bin());
}

TEST(ReflashUpdate, BusyVolumeGives13013AndThePageStaysWithItsButtons) {
  ReflashMac m;
  m.user().setVolumeBusy(-1);
  m.user().click("Start");
  m.user().expectText("The recorder's drive is in use and could not be ejected.");
  m.user().click(kAlertButton);
  m.Launch();
  m.Run();
  EXPECT_FALSE(m.Ended());
  EXPECT_EQ(m.Page(), kMacPageConfirm);
  EXPECT_TRUE(m.controller->page(kMacPageConfirm)->secondButton()->isEnabled());
  EXPECT_TRUE(m.controller->page(kMacPageConfirm)->firstButton()->isEnabled());
  EXPECT_EQ(m.recorder.main.version, "1.00");
  EXPECT_EQ(m.mac().power().activeAssertions(), 0u);
}

TEST(ReflashUpdate, FailedWriteEndsWith13003) {
  ReflashMac m;
  sim::Fault fault;
  std::string error;
  ASSERT_TRUE(sim::ParseFault("fail E4-02 3", fault, error)) << error;
  m.recorder.faults.push_back(fault);
  m.user().click("Start");
  m.user().click(kAlertButton);
  m.Launch();
  m.Run();
  EXPECT_TRUE(m.Ended());
  EXPECT_TRUE(m.mac().transcript().contains("The update has not been done properly."));
  EXPECT_EQ(m.mac().power().activeAssertions(), 0u);
}

TEST(ReflashPages, RemovalOnPageFourReturnsToPageOneAndAnArrivalGoesOn) {
  ReflashMac m;
  m.EditIni("Type=FACTORY", "Type=CUSTOMER");
  m.user().click("Next");
  m.user().expectText("Press [Start] to start the firmware update.");
  m.user().unplug();
  m.user().expectText("The device has been disconnected.");
  m.user().click(kAlertButton);
  m.Launch();
  m.Run();
  EXPECT_EQ(m.Page(), kMacPageConnect);
  EXPECT_FALSE(m.Ended());
  m.user().plug();
  m.Run(mac::Milliseconds(5000));
  EXPECT_EQ(m.Page(), kMacPageConfirm);
}

TEST(ReflashPages, RemovalOnPageFiveChangesNothing) {
  ReflashMac m;
  m.user().click("Start");
  m.user().expectText("Please disconnect the");
  m.user().unplug();
  m.Launch();
  m.Run(mac::Milliseconds(5000));
  EXPECT_EQ(m.Page(), kMacPageFinished);
  EXPECT_FALSE(m.mac().transcript().contains("The device has been disconnected."));
}

TEST(ReflashPages, ThePlayerStartingBeforeTheUpdateEndsTheProgramAfterItDoesNot) {
  {
    ReflashMac m;
    m.EditIni("Type=FACTORY", "Type=CUSTOMER");
    m.user().click("Next");
    m.user().launchApplication("VoxPlayer");
    m.user().expectText("The VoxPlayer has been started.");
    m.user().click(kAlertButton);
    m.Launch();
    m.Run();
    EXPECT_TRUE(m.Ended());
  }
  {
    ReflashMac m;
    m.user().click("Start");
    m.user().launchApplication("VoxPlayer");  // made while the progress sheet runs its session
    m.Launch();
    m.Run();
    EXPECT_FALSE(m.Ended());
    EXPECT_EQ(m.Page(), kMacPageFinished);
    EXPECT_EQ(m.recorder.main.version, "1.01");
  }
}

TEST(ReflashPages, ThePlayerRunningWhenStartIsPressedStopsNothing) {
  ReflashMac m;
  m.EditIni("Type=FACTORY", "Type=CUSTOMER");
  m.user().click("Next");
  m.Launch();
  m.Run(mac::Milliseconds(0));
  ASSERT_EQ(m.Page(), kMacPageStart);
  m.mac().workspace().notificationCenter().removeObserver(m.controller.get());  // the player's start is not heard
  m.mac().workspace().launch("VoxPlayer");
  m.user().click("Start");
  m.user().expectText("The VoxPlayer is running.");
  m.user().click(kAlertButton);
  m.Run();
  EXPECT_FALSE(m.Ended());
  EXPECT_TRUE(m.controller->page(kMacPageStart)->secondButton()->isEnabled());
  EXPECT_EQ(m.recorder.session.active, false) << "nothing was sent to the recorder";
}

TEST(ReflashPages, UserSwitchEndsTheProgram) {
  ReflashMac m;
  m.user().switchUser();
  m.user().expectText("The user has been switched.");
  m.user().click(kAlertButton);
  m.Launch();
  m.Run();
  EXPECT_TRUE(m.Ended());
}

TEST(ReflashPages, QuitLockRefusesTheUsersQuitButNotTheProgramsOwnEnd) {
  ReflashOptions o;
  o.arguments = {"-nc1"};
  ReflashMac m(o);
  m.recorder.deviceId = 99;
  m.user().quit();
  m.user().closeWindow("Firmware update program");
  m.Launch();
  m.Run();
  EXPECT_FALSE(m.Ended());
  EXPECT_TRUE(m.mac().transcript().contains("quit refused"));
  m.user().unplug();  // page 6 is left only by unplugging the recorder
  m.user().click(kAlertButton);
  m.Run();
  EXPECT_EQ(m.Page(), kMacPageConnect);
}

TEST(ReflashSheets, OneButtonAlertFitsItsMessage) {
  ReflashMac m;
  FwUpAlertSheet alert;
  const double windowHeight = alert.window().frame().size.height;
  struct Case {
    std::string text;
    double fieldHeight;
  };
  const Case cases[] = {{"One line.", 62.0}, {"a\nb\nc", 62.0}, {"1\n2\n3\n4\n5", 85.0}, {"1\n2\n3\n4\n5\n6\n7\n8", 136.0}};
  for (const Case& c : cases) {
    alert.setMessage1(c.text);
    const mac::Rect field = alert.message().frame();
    EXPECT_EQ(field.size.height, c.fieldHeight) << c.text;
    EXPECT_EQ(alert.window().frame().size.height, windowHeight + c.fieldHeight - 62.0) << c.text;
    EXPECT_EQ(alert.okButton().frame().origin.y, field.origin.y - 36.0) << c.text;
  }
  EXPECT_EQ(alert.okButton().title(), "OK") << "no texts loaded";
}

}  // namespace
