#pragma once
// Versions on the Mac: firmware versions from configuration and recorder texts, the system version,
// and the driver's bundle version that decides whether the driver is installed again.

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A firmware version; the revision is the letter of "1.02A" (A = 1 ... Z = 26), 0 without one.
// Ordered field by field.
struct _FIRM_VERSION {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t revision = 0;

  friend constexpr auto operator<=>(const _FIRM_VERSION&, const _FIRM_VERSION&) = default;
};

// False, and the version untouched, without a "." in the text. Otherwise the major number is the run
// of digits that ends the text before the first "." ("V1" gives 1), the minor number the digits that
// start the text after it, and the revision the first letter after it; a text without a letter leaves
// the revision as it was. Numbers wrap to 16 bits, as the recorder's own fields do.
bool convertVersionStringToStruct(std::string_view text, _FIRM_VERSION* version);

struct SystemVersion {
  int32_t major = 0;
  int32_t minor = 0;
  int32_t patch = 0;

  friend constexpr bool operator==(const SystemVersion&, const SystemVersion&) = default;
};

// From the system's version text, such as "Version 10.6.8 (Build 10K549)": only digits, "." and
// blanks count, and the second blank-separated part is the version. A text without a second part
// gives 10.5.0, the oldest system the programs know.
SystemVersion ParseSystemVersionText(std::string_view text);

// True when `system` is a.b.c or later.
bool IsSystemVersionAtLeast(const SystemVersion& system, int32_t major, int32_t minor, int32_t patch);

// The system version, read once from the text the platform supplies and kept for the process's life.
// A text that gives 0.0.0 is read again on the next question.
class SystemVersionCache {
 public:
  explicit SystemVersionCache(std::function<std::string()> versionText);

  void GetSystemVersion();
  int32_t GetSystemMajorVersion();
  int32_t GetSystemMinorVersion();
  int32_t GetSystemPatchVersion();
  bool isNewerThisSystemVersion(int32_t major, int32_t minor, int32_t patch);

 private:
  std::function<std::string()> versionText_;
  SystemVersion version_;
};

// Where the recorder's driver comes from in the resources and where the system keeps it: systems from
// 10.9 on (within 10.x) load drivers from /Library/Extensions, older ones from the system's folder.
struct KextLocation {
  std::string_view sourceFolder;     // in the program's resources
  std::string_view installedFolder;  // on the system
};
inline constexpr std::string_view kKextName = "KestrelDSSDriver.kext";
KextLocation KextLocationFor(const SystemVersion& system);

// The driver inside the program's resources for this system.
std::string NewKextPathIn(std::string_view resourcesPath, const SystemVersion& system);

// A driver bundle's version text ("1.2.9") as numbers; each part's leading digits, 0 without any.
std::optional<std::vector<int32_t>> ParseKextVersion(std::optional<std::string_view> shortVersionString);

// The decision of NeedInstallKext once the platform has looked: install when no driver is installed,
// and when the carried driver's version is above the installed one (the shorter version padded with
// zeros, so 1.2 equals 1.2.0). An unreadable version on either side keeps the installed driver.
bool NeedInstallKextFor(bool installedExists, const std::optional<std::vector<int32_t>>& carried,
                        const std::optional<std::vector<int32_t>>& installed);
