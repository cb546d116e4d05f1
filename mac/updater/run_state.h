#pragma once
// What the whole Reflash process shares between its controller, its pages and its device manager:
// the run mode, the quit lock, the markers left in /tmp, the texts, and the way the program ends.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "mac/shared/markers.h"

namespace mac {
class Platform;
}

// 0 started by the user, 1 first stage of the wrapper ("-nc1"), 2 second stage ("-nc2").
int GetCommandOptionNum();
void SetCommandOptionNum(int mode);
// While set, the user's own quit requests are refused.
char GetDisabledAppTerminate();
void SetDisabledAppTerminate(char disabled);

void CreateReflashCompleteCheckDir();

// A glossary text by id, and a glossary text used as a format for texts. Empty without a table.
std::string LocalizedText(uint32_t id);
std::string LocalizedFormat(uint32_t id, std::initializer_list<std::string_view> values);

// The program's own end: the quit lock is cleared first, so that it ends in every run mode.
void EndProgram();
bool ProgramHasEnded();

// A critical alert panel with the default button only; the panel's answer.
int runAlertPanel(const std::string& title, const std::string& message);
// A critical alert panel with the buttons 13101 and 13102; true for the first.
bool runAlertPanelWithYesNo(const std::string& title, const std::string& message);
