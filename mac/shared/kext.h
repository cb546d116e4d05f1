#pragma once
// The recorder's driver (a kernel extension): where the program carries it, whether the system needs
// it installed or updated, and its installation with the administrator's rights. Works on the
// platform of the running program's MacLibrary (library.h).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mac/platform/plist.h"

// The driver in the program's resources that fits this system.
std::string GetNewKextPath();

// The folder from which this system loads drivers: "/Library/Extensions" from 10.9 on, else the
// system's own.
std::string GetKextInstallFolder();

// The value of `key` in the bundle's Contents/Info.plist; nothing when the file is missing, does not
// parse, or has no such key.
std::optional<mac::PlistValue> GetProperty(std::string_view bundlePath, std::string_view key);

// The numbers of the bundle's CFBundleShortVersionString ("1.2.9" is 1, 2, 9); nothing when it has
// none, or when the value is not a text.
std::optional<std::vector<int32_t>> GetKextVersion(std::string_view bundlePath);

// The driver must be installed: none is in this system's folder, or the one carried is newer.
bool NeedInstallKext();

// What InstallKext answers when the driver is missing from the program or did not arrive in time.
// The same number as a cancelled password dialog: the callers only tell 0 from the rest.
inline constexpr int32_t kKextNotInstalled = -60006;

// Copies the driver at `kextPath` into this system's driver folder with the tool "CopyKextTool" of
// the program's resources, run with the administrator's rights after asking for the password. Waits
// for the driver to appear there (up to 3 s, then 1 s more for the system to take note). 0 when it
// did; the authorization's status when the right was not given or the tool did not start;
// kKextNotInstalled when there is no driver at `kextPath` or it did not arrive.
int32_t InstallKext(std::string_view kextPath);
