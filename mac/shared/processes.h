#pragma once
// Running programs: the process table as the kernel hands it out, and the checks on the list of
// launched applications.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One process record of the 32-bit kernel's process table, and its command name field (the name
// ends at the first zero byte; a full field has none).
inline constexpr size_t kProcessRecordSize = 492;
inline constexpr size_t kProcessCommandNameOffset = 163;
inline constexpr size_t kProcessCommandNameSize = 17;

// The number of whole records in a table of `byteCount` bytes.
constexpr size_t ProcessRecordCount(size_t byteCount) { return byteCount / kProcessRecordSize; }

// The command names of the whole records, in order; a trailing partial record is not read.
std::vector<std::string> ProcessCommandNames(std::span<const uint8_t> table);

// The users logged in: every one runs exactly one process named "Finder".
size_t CountFinderProcesses(std::span<const uint8_t> table);

// The application names that matter, as the platform reports the launched applications' names.
inline constexpr std::string_view kReflashApplicationName = "Firmware Update";
inline constexpr std::string_view kTwinflashApplicationName = "TWINFLASH";

// Over the names of the launched applications (an application without a name is left out).
bool isRunningVoxPlayer(const std::vector<std::string>& launchedApplicationNames);
bool isRunningKestrelTunebox(const std::vector<std::string>& launchedApplicationNames);
// A second copy of the calling program: its own name appears more than once.
bool isRunningReflash(const std::vector<std::string>& launchedApplicationNames, std::string_view ownName);
