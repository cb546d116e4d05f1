#include "mac/updater/run_state.h"

#include "mac/platform/platform.h"
#include "mac/shared/localize.h"
#include "mac/shared/localize_table.h"

namespace {
int gCommandOptionNum = 0;
char gDisabledAppTerminate = 0;
}  // namespace

int GetCommandOptionNum() { return gCommandOptionNum; }
void SetCommandOptionNum(int mode) { gCommandOptionNum = mode; }
char GetDisabledAppTerminate() { return gDisabledAppTerminate; }
void SetDisabledAppTerminate(char disabled) { gDisabledAppTerminate = disabled; }

void CreateReflashCompleteCheckDir() { mac::Platform::current().fileManager().createDirectoryAtPath(kCompleteCheckDir); }

std::string LocalizedText(uint32_t id) {
  CMLocalize* texts = CMLocalize::getLocalizeObject();
  return texts ? texts->getLocalizedString(std::to_string(id)) : std::string();
}

std::string LocalizedFormat(uint32_t id, std::initializer_list<std::string_view> values) {
  return FormatLocalizedText(LocalizedText(id), values);
}

void EndProgram() {
  SetDisabledAppTerminate(0);
  mac::Platform::current().application().terminate();
}

bool ProgramHasEnded() { return mac::Platform::current().application().isTerminated(); }

int runAlertPanel(const std::string& title, const std::string& message) {
  return mac::Platform::current().application().runCriticalAlertPanel(title, message);
}

bool runAlertPanelWithYesNo(const std::string& title, const std::string& message) {
  return mac::Platform::current().application().runCriticalAlertPanel(
             title, message, LocalizedText(13101), LocalizedText(13102)) == mac::NSAlertDefaultReturn;
}
