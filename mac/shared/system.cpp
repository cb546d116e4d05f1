#include "mac/shared/system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "mac/platform/platform.h"
#include "mac/shared/file_names.h"
#include "mac/shared/library.h"
#include "mac/shared/processes.h"

static_assert(kProcessRecordSize == mac::kKinfoProcSize && kProcessCommandNameOffset == mac::kKinfoProcCommOffset &&
                  kProcessCommandNameSize == mac::kKinfoProcCommSize,
              "the records are read as the kernel writes them");

namespace {

mac::Platform& Mac() { return MacLibrary::current().platform(); }

std::vector<std::string> LaunchedApplicationNames() {
  std::vector<std::string> names;
  for (const auto& application : Mac().workspace().launchedApplications()) {
    if (!application.name.empty()) names.push_back(application.name);
  }
  return names;
}

// Kept in release builds too: a caller that breaks the contract must not go on with a table that
// is not what it thinks.
[[noreturn]] void CallerMistake(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: failed assertion `%s'\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}
#define REQUIRE_OF_CALLER(condition) ((condition) ? void() : CallerMistake(__FILE__, __LINE__, #condition))

}  // namespace

std::optional<std::string> renameIfExistAtPath(std::optional<std::string_view> path) {
  if (!path) return std::nullopt;
  const mac::FileManager& files = Mac().fileManager();
  return renameIfExistAtPath(*path, [&files](const std::string& candidate) { return files.fileExistsAtPath(candidate); });
}

std::optional<std::vector<uint8_t>> filePathToAliasData(std::optional<std::string_view> path) {
  if (!path) return std::nullopt;
  mac::Volumes& volumes = Mac().volumes();
  mac::FSRef ref;
  if (volumes.FSPathMakeRef(*path, &ref) != mac::noErr) return std::nullopt;
  std::vector<uint8_t> alias;
  if (volumes.FSNewAlias(nullptr, ref, &alias) != mac::noErr) return std::nullopt;
  return alias;
}

std::optional<std::string> stringWithInsensitiveResourcePathName(std::optional<std::string_view> name) {
  if (!name) return std::nullopt;
  const std::string resources = Mac().mainBundle().resourcePath();
  const auto entries = Mac().fileManager().directoryContentsAtPath(resources);
  if (!entries) return std::nullopt;
  return stringWithInsensitiveResourcePathName(name, resources, *entries);
}

bool isRunningVoxPlayer() { return isRunningVoxPlayer(LaunchedApplicationNames()); }

bool isRunningKestrelTunebox() { return isRunningKestrelTunebox(LaunchedApplicationNames()); }

bool isRunningReflash() { return isRunningReflash(LaunchedApplicationNames(), MacLibrary::current().applicationName()); }

int GetBSDProcessList(std::vector<uint8_t>* list, size_t* count) {
  REQUIRE_OF_CALLER(list != nullptr);
  REQUIRE_OF_CALLER(list->empty());
  REQUIRE_OF_CALLER(count != nullptr);
  *count = 0;

  mac::Processes& processes = Mac().processes();
  const int name[] = {mac::kCtlKern, mac::kKernProc, mac::kKernProcAll};
  for (;;) {
    size_t size = 0;
    if (processes.sysctl(name, nullptr, &size) == -1) return errno;
    std::vector<uint8_t> buffer(size);
    if (processes.sysctl(name, buffer.data(), &size) == -1) {
      const int error = errno;
      if (error == ENOMEM) continue;  // the table grew since its size was asked
      return error;
    }
    // Processes may also have ended meanwhile: only what was written counts.
    buffer.resize(std::min(size, buffer.size()));
    *count = ProcessRecordCount(buffer.size());
    *list = std::move(buffer);
    return 0;
  }
}

size_t getUserCount() {
  std::vector<uint8_t> table;
  size_t count = 0;
  if (GetBSDProcessList(&table, &count) != 0) return 0;
  return CountFinderProcesses(table);
}

void GetSystemVersion() { MacLibrary::current().systemVersion().GetSystemVersion(); }

int32_t GetSystemMajorVersion() { return MacLibrary::current().systemVersion().GetSystemMajorVersion(); }

int32_t GetSystemMinorVersion() { return MacLibrary::current().systemVersion().GetSystemMinorVersion(); }

int32_t GetSystemPatchVersion() { return MacLibrary::current().systemVersion().GetSystemPatchVersion(); }

bool isNewerThisSystemVersion(int32_t major, int32_t minor, int32_t patch) {
  return MacLibrary::current().systemVersion().isNewerThisSystemVersion(major, minor, patch);
}

bool IsPlugMonitorRunning(mac::Platform& platform) {
  mac::ProcessSerialNumber psn{0, mac::kNoProcess};
  while (platform.processes().GetNextProcess(&psn) == mac::noErr) {
    std::string name;
    if (platform.processes().CopyProcessName(psn, &name) == mac::noErr && name == kPlugMonitorName) return true;
  }
  return false;
}

int StopPlugMonitor(mac::Platform& platform, bool& stopped) {
  mac::ProcessSerialNumber psn{0, mac::kNoProcess};
  while (platform.processes().GetNextProcess(&psn) == mac::noErr) {
    std::string name;
    if (platform.processes().CopyProcessName(psn, &name) != mac::noErr || name != kPlugMonitorName) continue;
    const mac::OSErr error = platform.processes().KillProcess(psn);
    if (error == mac::noErr) stopped = true;
    return error;
  }
  return 0;
}

int StartPlugMonitorAgain(mac::Platform& platform, bool& stopped) {
  int result = 0;
  if (stopped && !IsPlugMonitorRunning(platform) && !platform.workspace().launchApplication(kPlugMonitorPath)) result = -1;
  stopped = false;
  return result;
}
