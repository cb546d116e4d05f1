#pragma once
// Twinflash's decisions as pure functions: its configuration, the resources it must carry, the
// message each start-up result shows, the shell command of a stage, and what the end of a stage
// leads to. RSReflashController only gathers the inputs and acts on the answers.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mac/shared/ini_file.h"

// The section and keys of the wrapper's TWINFLASH.INI on the Mac.
inline constexpr std::string_view kTwinflashIniName = "TWINFLASH.INI";
inline constexpr std::string_view kTwinflashSection = "INFO";

// The six paths are relative to the resources folder and start with "/": they are appended to it as
// they stand.
struct TwinflashConfig {
  std::string model;
  std::string fwPath1;         // the stage 1 updater (sub processor)
  std::string fwPath2;         // the stage 2 updater (main processor)
  std::string grossaryPath;
  std::string st1DialogImagePath;
  std::string nd2DialogImagePath;
  bool admitLaunch = false;    // "YES": the maker's player and audio application may run meanwhile
};

// Every one of the six required keys present, else nothing. Only "YES" admits the player.
std::optional<TwinflashConfig> ReadTwinflashConfig(const IniSection* info);

// The entries of a folder below the resources, by its path relative to them ("" the resources
// folder itself, "MODULES", "KextV2"); nothing when it cannot be listed.
using FolderLister = std::function<std::optional<std::vector<std::string>>(std::string_view folder)>;

// The last path component ("/MODULES/Reflash1.app" is "Reflash1.app").
std::string_view LastPathComponent(std::string_view path);

// Everything the bundle must carry before the wrapper may start: the resources, MODULES and IMAGES
// listable; TWINFLASH.INI, KextV2 and KextV3 in the resources, the driver in both driver folders, both
// pictures in IMAGES, the glossary table and both updaters in MODULES. Names are compared exactly.
bool HasTwinflashResources(const TwinflashConfig& config, const FolderLister& list);

// The results of the start-up checks (errStatus), and which program blocked the start
// (m_bErrStatusNum) with -188.
inline constexpr int32_t kStartReady = 0;
inline constexpr int32_t kStartRestartPending = 26;
inline constexpr int32_t kStartAlreadyRunning = -2805;
inline constexpr int32_t kStartProgramRunning = -188;
inline constexpr int32_t kStartNeedDriver = -26;
inline constexpr int32_t kStartBuildError = -50;
inline constexpr int32_t kBlockedByPlayer = 1;
inline constexpr int32_t kBlockedByTunebox = 2;

// Glossary ids of the wrapper's texts beyond the Mac pages' own.
namespace twin_text {
inline constexpr uint32_t kPage1Message1 = 12000;
inline constexpr uint32_t kPage1Message2 = 12010;
inline constexpr uint32_t kPage2Message1 = 12011;
inline constexpr uint32_t kPage2Message2 = 12012;
inline constexpr uint32_t kPage3Message1 = 13003;
inline constexpr uint32_t kTuneboxRunning = 13104;
inline constexpr uint32_t kEndQuestion = 13103;
}  // namespace twin_text

// The key of the bundle's own localized text shown when the program cannot start.
inline constexpr std::string_view kBuildErrorKey = "buildError";

// The message of a start-up result: a glossary id, or 0 for the bundle's "buildError" text. Nothing
// for kStartReady.
std::optional<uint32_t> StartupMessage(int32_t errStatus, int32_t blockedBy);

// The shell command of a stage (1 or 2): the updater application at `fwPath` inside the resources of
// the bundle at `bundlePath`, started with "-nc1" or "-nc2". Each path is one word whatever it holds:
// a blank gets a backslash before it, as does every other character the shell would read as
// something else.
std::string StageCommand(std::string_view bundlePath, std::string_view fwPath, int stage);

// What the poll after a stage does once no stage updater runs any more.
enum class StageEnd {
  ShowPage2,   // stage 1 left its marker: remove it, lock Quit and the close button, page 2
  Close,       // close the window, which ends the application
};
struct StageEndDecision {
  StageEnd action = StageEnd::Close;
  bool removeMarker = false;
  bool clearWizardNo = false;  // after stage 2: quitting is allowed again
};
StageEndDecision DecideStageEnd(uint32_t updateNo, bool markerExists);

// The application name of the stage updaters: while one is listed, a stage still runs.
inline constexpr std::string_view kStageApplicationName = "Firmware Update";
