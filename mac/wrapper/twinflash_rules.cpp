#include "mac/wrapper/twinflash_rules.h"

#include <algorithm>

#include "mac/shared/file_names.h"
#include "mac/shared/versions.h"

std::optional<TwinflashConfig> ReadTwinflashConfig(const IniSection* info) {
  if (!info) return std::nullopt;
  auto value = [info](std::string_view key) -> const std::string* {
    const auto found = info->find(key);
    return found == info->end() ? nullptr : &found->second;
  };
  TwinflashConfig config;
  const std::pair<std::string_view, std::string*> required[] = {
      {"MODEL", &config.model},
      {"FW_PATH1", &config.fwPath1},
      {"FW_PATH2", &config.fwPath2},
      {"GROSSARY_PATH", &config.grossaryPath},
      {"1ST_DIALOG_IMAGE", &config.st1DialogImagePath},
      {"2ND_DIALOG_IMAGE", &config.nd2DialogImagePath},
  };
  for (const auto& [key, field] : required) {
    const std::string* text = value(key);
    if (!text) return std::nullopt;
    *field = *text;
  }
  const std::string* admit = value("AdmitLaunch");
  config.admitLaunch = admit && *admit == "YES";
  return config;
}

std::string_view LastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool HasTwinflashResources(const TwinflashConfig& config, const FolderLister& list) {
  const auto resources = list("");
  const auto modules = list("MODULES");
  const auto images = list("IMAGES");
  if (!resources || !modules || !images) return false;
  auto holds = [](const std::vector<std::string>& entries, std::string_view name) {
    return std::find(entries.begin(), entries.end(), name) != entries.end();
  };
  for (std::string_view item : {kTwinflashIniName, std::string_view("KextV2"), std::string_view("KextV3")}) {
    if (!holds(*resources, item)) return false;
  }
  for (std::string_view folder : {"KextV2", "KextV3"}) {
    const auto kext = list(folder);
    if (!kext || !holds(*kext, kKextName)) return false;
  }
  for (const std::string& picture : {config.st1DialogImagePath, config.nd2DialogImagePath}) {
    if (!holds(*images, LastPathComponent(picture))) return false;
  }
  for (const std::string& module : {config.grossaryPath, config.fwPath1, config.fwPath2}) {
    if (!holds(*modules, LastPathComponent(module))) return false;
  }
  return true;
}

std::optional<uint32_t> StartupMessage(int32_t errStatus, int32_t blockedBy) {
  switch (errStatus) {
    case kStartReady: return std::nullopt;
    case kStartRestartPending: return 13009;
    case kStartAlreadyRunning: return 13010;
    case kStartNeedDriver: return 13008;
    case kStartProgramRunning:
      if (blockedBy == kBlockedByPlayer) return 13005;
      if (blockedBy == kBlockedByTunebox) return twin_text::kTuneboxRunning;
      return 0;
    default: return 0;
  }
}

std::string StageCommand(std::string_view bundlePath, std::string_view fwPath, int stage) {
  // The configured path is escaped as well: the wrapper's own configuration should not be able to
  // run anything either.
  return EscapePathForShell(bundlePath) + "/Contents/Resources" + EscapePathForShell(fwPath) +
         "/Contents/MacOS/Reflash " + (stage == 1 ? "-nc1" : "-nc2");
}

StageEndDecision DecideStageEnd(uint32_t updateNo, bool markerExists) {
  StageEndDecision d;
  if (updateNo == 1) {
    d.action = markerExists ? StageEnd::ShowPage2 : StageEnd::Close;
    d.removeMarker = markerExists;
  } else if (updateNo == 2) {
    d.action = StageEnd::Close;
    d.removeMarker = markerExists;
    d.clearWizardNo = true;
  }
  return d;
}
