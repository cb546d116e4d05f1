#include "common/mac_wizard_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(MacCommandOptions, SubstringsInOrderTheLaterArgumentWins) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int mode;
    bool lock;
  };
  const Case cases[] = {
      {"none", {"/Applications/Reflash.app/Contents/MacOS/Reflash"}, 0, false},
      {"-nc1 inside another argument", {"/R", "x-nc1y"}, 1, true},
      {"both in one argument", {"/R", "-nc1-nc2"}, 2, true},
      {"both in one argument, other order", {"/R", "-nc2-nc1"}, 2, true},
      {"-nc1 after -nc2", {"/R", "-nc2", "-nc1"}, 1, true},
      {"-nc2 after -nc1", {"/R", "-nc1", "-nc2"}, 2, true},
      {"the program path counts", {"/tmp/-nc2/Reflash"}, 2, true},
      {"upper case is another word", {"/R", "-NC1"}, 0, false},
      {"a later plain argument changes nothing", {"/R", "-nc1", "-psn_0_1234"}, 1, true},
  };
  for (const Case& c : cases) {
    const MacCommandOptions o = ParseMacCommandOptions(c.arguments);
    EXPECT_EQ(o.runMode, c.mode) << c.name;
    EXPECT_EQ(o.quitLock, c.lock) << c.name;
  }
}

TEST(MacFirstPage, ByDeviceTypeVersionAndRunMode) {
  struct Case {
    const char* name;
    MacDeviceFacts facts;
    int mode;
    MacPage page;
    bool marker;
    bool release;
  };
  const MacDeviceFacts none{false, false, false, 1};
  const MacDeviceFacts invalid{true, true, false, 1};
  auto customer = [](int order) { return MacDeviceFacts{true, false, false, order}; };
  auto factory = [](int order) { return MacDeviceFacts{true, false, true, order}; };
  const Case cases[] = {
      {"no recorder", none, 0, kMacPageConnect, false, false},
      {"no recorder, stage 1", none, 1, kMacPageConnect, false, false},
      {"invalid device", invalid, 0, kMacPageInvalid, false, false},
      {"invalid device before the type", {true, true, true, 1}, 2, kMacPageInvalid, false, false},
      {"FACTORY newer", factory(1), 0, kMacPageConfirm, false, false},
      {"FACTORY equal", factory(0), 0, kMacPageConfirm, false, false},
      {"FACTORY older", factory(-1), 0, kMacPageConfirm, false, false},
      {"FACTORY older, stage 1", factory(-1), 1, kMacPageConfirm, false, false},
      {"CUSTOMER newer, user", customer(1), 0, kMacPageConfirm, false, false},
      {"CUSTOMER equal, user", customer(0), 0, kMacPageNoUpdate, false, true},
      {"CUSTOMER older, user", customer(-1), 0, kMacPageNoUpdate, false, true},
      {"CUSTOMER newer, stage 1", customer(1), 1, kMacPageConfirm, false, false},
      {"CUSTOMER equal, stage 1", customer(0), 1, kMacPageConfirm, false, false},
      {"CUSTOMER older, stage 1", customer(-1), 1, kMacPageNoUpdate, true, true},
      {"CUSTOMER newer, stage 2", customer(1), 2, kMacPageConfirm, false, false},
      {"CUSTOMER equal, stage 2", customer(0), 2, kMacPageConfirm, false, false},
      {"CUSTOMER older, stage 2", customer(-1), 2, kMacPageNoUpdate, true, true},
  };
  for (const Case& c : cases) {
    const MacFirstPage p = ChooseMacFirstPage(c.facts, c.mode);
    EXPECT_EQ(p.page, c.page) << c.name;
    EXPECT_EQ(p.createCompleteMarker, c.marker) << c.name;
    EXPECT_EQ(p.releaseQuitLock, c.release) << c.name;
  }
}

TEST(MacPageSwitch, NotificationAndNextPage) {
  struct Case {
    const char* notification;
    int next;
    int mode;
    MacSwitch action;
    MacPage page;
    bool lock;
  };
  using enum MacSwitch;
  const Case cases[] = {
      {kNotifyCloseWizard21, 1, 0, ShowPage, kMacPageConnect, false},
      {kNotifyCloseWizard21, 4, 0, ShowPage, kMacPageStart, false},
      {kNotifyCloseWizard21, 5, 0, Finish, kMacPageFinished, false},
      {kNotifyCloseWizard21, 2, 0, EndProgram, kMacPageNone, false},
      {kNotifyCloseWizard21, 3, 0, EndProgram, kMacPageNone, false},
      {kNotifyCloseWizard21, 6, 0, EndProgram, kMacPageNone, false},
      {kNotifyCloseWizard22, 1, 0, ShowPage, kMacPageConnect, false},
      {kNotifyCloseWizard22, 1, 1, ShowPage, kMacPageConnect, true},
      {kNotifyCloseWizard22, 1, 2, ShowPage, kMacPageConnect, true},
      {kNotifyCloseWizard22, 4, 0, EndProgram, kMacPageNone, false},
      {kNotifyCloseWizard22, 5, 1, Finish, kMacPageFinished, false},
      {kNotifyCloseWizard23, 1, 1, ShowPage, kMacPageConnect, false},
      {kNotifyCloseWizard23, 6, 0, EndProgram, kMacPageNone, false},
      {kNotifyCloseWizard3, 1, 2, ShowPage, kMacPageConnect, false},
      {kNotifyCloseWizard3, 4, 0, EndProgram, kMacPageNone, false},
      {kNotifyCloseWizard3, 5, 0, Finish, kMacPageFinished, false},
      {kNotifyCloseWizard1, 1, 0, Nothing, kMacPageNone, false},
      {"somethingElse", 1, 0, Nothing, kMacPageNone, false},
  };
  for (const Case& c : cases) {
    const MacSwitchDecision d = DecideMacSwitch(c.notification, c.next, c.mode);
    const std::string what = std::string(c.notification) + " " + std::to_string(c.next) + " mode " + std::to_string(c.mode);
    EXPECT_EQ(d.action, c.action) << what;
    EXPECT_EQ(d.page, c.page) << what;
    EXPECT_EQ(d.setQuitLock, c.lock) << what;
  }
  EXPECT_TRUE(DecideMacFinish(1).endProgram);
  EXPECT_TRUE(DecideMacFinish(1).createCompleteMarker);
  EXPECT_FALSE(DecideMacFinish(0).endProgram || DecideMacFinish(0).createCompleteMarker);
  EXPECT_FALSE(DecideMacFinish(2).endProgram || DecideMacFinish(2).createCompleteMarker);
}

TEST(MacPageLayout, ButtonsByRunModeTypeAndQuitLock) {
  using namespace mac_text;
  struct Case {
    MacPage page;
    int mode;
    bool factory;
    bool lock;
    uint32_t explanation, first, second;
    bool firstEnabled;
  };
  const Case cases[] = {
      {kMacPageConnect, 0, false, false, kConnect, kCancelButton, 0, true},
      {kMacPageConnect, 1, false, true, kConnect, kCancelButton, 0, false},
      {kMacPageConfirm, 0, true, false, kConfirm, kCancelButton, kStartButton, true},
      {kMacPageConfirm, 2, false, true, kConfirm, kCancelButton, kNextButton, false},
      {kMacPageNoUpdate, 1, false, false, kNoUpdate, kNextButton, 0, true},
      {kMacPageNoUpdate, 2, false, true, kNoUpdate, kFinishButton, 0, true},
      {kMacPageNoUpdate, 0, false, false, kNoUpdate, kFinishButton, 0, true},
      {kMacPageStart, 0, false, false, kStart, kFinishButton, kStartButton, true},
      {kMacPageStart, 1, false, true, kStart, kFinishButton, kStartButton, false},
      {kMacPageFinished, 1, false, true, kFinished, kNextButton, 0, true},
      {kMacPageFinished, 2, false, true, kFinished, kFinishButton, 0, true},
      {kMacPageInvalid, 0, false, false, kInvalid, kFinishButton, 0, true},
      {kMacPageInvalid, 1, false, true, kInvalid, kFinishButton, 0, false},
  };
  for (const Case& c : cases) {
    const MacPageLayout l = MacPageLayoutFor(c.page, c.mode, c.factory, c.lock);
    const std::string what = "page " + std::to_string(c.page) + " mode " + std::to_string(c.mode);
    EXPECT_EQ(l.explanation, c.explanation) << what;
    EXPECT_EQ(l.modelLine, c.page != kMacPageConnect) << what;
    EXPECT_EQ(l.firstButton, c.first) << what;
    EXPECT_EQ(l.secondButton, c.second) << what;
    EXPECT_EQ(l.firstButtonEnabled, c.firstEnabled) << what;
  }
}

TEST(MacVersionText, MajorAndTwoDigitMinor) {
  EXPECT_EQ(MacVersionText(1, 1), "1.01");
  EXPECT_EQ(MacVersionText(0, 0), "0.00");
  EXPECT_EQ(MacVersionText(12, 345), "12.345");
  EXPECT_EQ(MacVersionText(65535, 9), "65535.09");
}

}  // namespace
