#pragma once
// The library's plain functions that look at the Mac itself: free file names and alias records,
// resources found without regard to case, running programs and users, and the system version. Each
// works on the platform of the running program's MacLibrary (library.h); without one they throw
// std::logic_error, as using the platform before there is one would.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A path at which nothing exists yet: the path itself, else the first free of base_0001.ext ...
// base_9999.ext beside it. Nothing for no path, an empty one, or when all of them are taken.
std::optional<std::string> renameIfExistAtPath(std::optional<std::string_view> path);

// The platform's alias record of the item at `path`; nothing when there is no such item.
std::optional<std::vector<uint8_t>> filePathToAliasData(std::optional<std::string_view> path);

// The full path of the entry of the program's resources folder named `name` in any case, the first
// one the folder lists; nothing for no name, an unreadable folder or no such entry.
std::optional<std::string> stringWithInsensitiveResourcePathName(std::optional<std::string_view> name);

// The maker's Plug Monitor, which both programs stop while the recorder is theirs and start again
// at the end. These take the platform they act on, as the controllers hold it.
namespace mac { class Platform; }
inline constexpr const char* kPlugMonitorName = "Plug Monitor";
inline constexpr const char* kPlugMonitorPath =
    "/Library/Application Support/Kestrel/VoxPlayer/Plug Monitor/Plug Monitor.app";
bool IsPlugMonitorRunning(mac::Platform& platform);
// Ends the first process of that name: its error, or 0 when none runs; `stopped` is set once one was
// ended, so that only a monitor stopped here is started again.
int StopPlugMonitor(mac::Platform& platform, bool& stopped);
// Starts it again when it was stopped and is not running now; -1 when the launch failed, else 0.
// `stopped` is cleared.
int StartPlugMonitorAgain(mac::Platform& platform, bool& stopped);

// By the names of the workspace's launched applications.
bool isRunningVoxPlayer();
bool isRunningKestrelTunebox();
// Another copy of this program (Reflash or Twinflash, as its MacLibrary says) runs besides this one.
bool isRunningReflash();

// The kernel's process table: `list` receives the records (kProcessRecordSize bytes each, see
// processes.h) and `count` how many whole records it holds. 0, or the errno of the failure (the list
// then empty and the count 0). A table that grows between the question of its size and the fetch is
// fetched again. `list` must be given and empty and `count` given: anything else is a mistake of the
// caller, which ends the program with the file, line and the condition that failed.
int GetBSDProcessList(std::vector<uint8_t>* list, size_t* count);

// The users logged in, one Finder process each; 0 when the process table cannot be read.
size_t getUserCount();

// The system version, read from the platform's version text the first time it is asked and kept
// while the program's MacLibrary lives.
void GetSystemVersion();
int32_t GetSystemMajorVersion();
int32_t GetSystemMinorVersion();
int32_t GetSystemPatchVersion();
// The system is major.minor.patch or later.
bool isNewerThisSystemVersion(int32_t major, int32_t minor, int32_t patch);
