#include "common/mac_wizard_rules.h"

#include <cstdio>

MacCommandOptions ParseMacCommandOptions(const std::vector<std::string>& arguments) {
  MacCommandOptions options;
  for (const std::string& argument : arguments) {
    if (argument.find("-nc1") != std::string::npos) options = {kRunStage1, true};
    if (argument.find("-nc2") != std::string::npos) options = {kRunStage2, true};
  }
  return options;
}

MacFirstPage ChooseMacFirstPage(const MacDeviceFacts& facts, int runMode) {
  if (!facts.held) return {kMacPageConnect};
  if (facts.invalid) return {kMacPageInvalid};
  if (facts.factory) return {kMacPageConfirm};
  const bool stage = runMode == kRunStage1 || runMode == kRunStage2;
  if (facts.versionOrder == 1 || (stage && facts.versionOrder == 0)) return {kMacPageConfirm};
  return {kMacPageNoUpdate, stage, true};
}

MacSwitchDecision DecideMacSwitch(const std::string& notification, int nextPage, int runMode) {
  const bool stage = runMode == kRunStage1 || runMode == kRunStage2;
  auto finishOrEnd = [](int page) -> MacSwitchDecision {
    if (page == kMacPageFinished) return {MacSwitch::Finish, kMacPageFinished};
    return {MacSwitch::EndProgram};
  };
  if (notification == kNotifyCloseWizard21) {
    if (nextPage == kMacPageConnect || nextPage == kMacPageStart) return {MacSwitch::ShowPage, static_cast<MacPage>(nextPage)};
    return finishOrEnd(nextPage);
  }
  if (notification == kNotifyCloseWizard22) {
    if (nextPage == kMacPageConnect) return {MacSwitch::ShowPage, kMacPageConnect, stage};
    return finishOrEnd(nextPage);
  }
  if (notification == kNotifyCloseWizard23 || notification == kNotifyCloseWizard3) {
    if (nextPage == kMacPageConnect) return {MacSwitch::ShowPage, kMacPageConnect};
    return finishOrEnd(nextPage);
  }
  return {MacSwitch::Nothing};
}

MacFinish DecideMacFinish(int runMode) {
  if (runMode == kRunStage1) return {true, true};
  return {false, false};
}

MacPageLayout MacPageLayoutFor(MacPage page, int runMode, bool factory, bool quitLock) {
  using namespace mac_text;
  const uint32_t nextOrFinish = runMode == kRunStage1 ? kNextButton : kFinishButton;
  switch (page) {
    case kMacPageConnect: return {kConnect, false, kCancelButton, 0, !quitLock};
    case kMacPageConfirm: return {kConfirm, true, kCancelButton, factory ? kStartButton : kNextButton, !quitLock};
    case kMacPageNoUpdate: return {kNoUpdate, true, nextOrFinish, 0, true};
    case kMacPageStart: return {kStart, true, kFinishButton, kStartButton, !quitLock};
    case kMacPageFinished: return {kFinished, true, nextOrFinish, 0, true};
    case kMacPageInvalid: return {kInvalid, true, kFinishButton, 0, !quitLock};
    case kMacPageNone: break;
  }
  return {};
}

std::string MacVersionText(uint16_t major, uint16_t minor) {
  char text[16];
  std::snprintf(text, sizeof text, "%1d.%02d", major, minor);
  return text;
}
