#include "mac/shared/versions.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "common/text_scan.h"
#include "mac/shared/file_names.h"

namespace {

// The leading digits of a text as a number, at most the largest int32; 0 without digits.
int32_t LeadingNumberSaturating(std::string_view text) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  int32_t value = 0;
  for (char c : text) {
    if (!IsAsciiDigit(c)) break;
    const int32_t digit = c - '0';
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

bool convertVersionStringToStruct(std::string_view text, _FIRM_VERSION* version) {
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || version == nullptr) return false;

  const std::string_view left = text.substr(0, dot);
  size_t digitsFrom = left.size();
  while (digitsFrom > 0 && IsAsciiDigit(left[digitsFrom - 1])) --digitsFrom;
  const std::string_view right = text.substr(dot + 1);

  version->major = static_cast<uint16_t>(ScanDecimalU32(left.substr(digitsFrom)));
  size_t minorDigits = 0;
  while (minorDigits < right.size() && IsAsciiDigit(right[minorDigits])) ++minorDigits;
  version->minor = static_cast<uint16_t>(ScanDecimalU32(right.substr(0, minorDigits)));
  for (char c : right) {
    if (IsAsciiAlpha(c)) {
      version->revision = static_cast<uint16_t>(ToAsciiUpper(c) - 'A' + 1);
      break;
    }
  }
  return true;
}

SystemVersion ParseSystemVersionText(std::string_view text) {
  std::string kept;
  for (char c : text) {
    if (IsAsciiDigit(c) || c == '.' || c == ' ') kept.push_back(c);
  }
  const auto parts = Split(kept, ' ');
  if (parts.size() < 2) return {10, 5, 0};

  const auto numbers = Split(parts[1], '.');
  SystemVersion version;
  int32_t* const fields[] = {&version.major, &version.minor, &version.patch};
  for (size_t i = 0; i < 3 && i < numbers.size(); ++i) *fields[i] = LeadingNumberSaturating(numbers[i]);
  return version;
}

bool IsSystemVersionAtLeast(const SystemVersion& system, int32_t major, int32_t minor, int32_t patch) {
  if (system.major != major) return system.major > major;
  if (system.minor != minor) return system.minor > minor;
  return system.patch >= patch;
}

SystemVersionCache::SystemVersionCache(std::function<std::string()> versionText)
    : versionText_(std::move(versionText)) {}

void SystemVersionCache::GetSystemVersion() {
  if (version_ != SystemVersion{}) return;
  version_ = ParseSystemVersionText(versionText_ ? versionText_() : std::string());
}

int32_t SystemVersionCache::GetSystemMajorVersion() {
  GetSystemVersion();
  return version_.major;
}

int32_t SystemVersionCache::GetSystemMinorVersion() {
  GetSystemVersion();
  return version_.minor;
}

int32_t SystemVersionCache::GetSystemPatchVersion() {
  GetSystemVersion();
  return version_.patch;
}

bool SystemVersionCache::isNewerThisSystemVersion(int32_t major, int32_t minor, int32_t patch) {
  GetSystemVersion();
  return IsSystemVersionAtLeast(version_, major, minor, patch);
}

KextLocation KextLocationFor(const SystemVersion& system) {
  if (system.major == 10 && system.minor > 8) return {"KextV3", "/Library/Extensions"};
  return {"KextV2", "/System/Library/Extensions"};
}

std::string NewKextPathIn(std::string_view resourcesPath, const SystemVersion& system) {
  return JoinPath(JoinPath(resourcesPath, KextLocationFor(system).sourceFolder), kKextName);
}

std::optional<std::vector<int32_t>> ParseKextVersion(std::optional<std::string_view> shortVersionString) {
  if (!shortVersionString) return std::nullopt;
  std::vector<int32_t> parts;
  for (std::string_view part : Split(*shortVersionString, '.')) parts.push_back(LeadingNumberSaturating(part));
  if (parts.empty()) return std::nullopt;
  return parts;
}

bool NeedInstallKextFor(bool installedExists, const std::optional<std::vector<int32_t>>& carried,
                        const std::optional<std::vector<int32_t>>& installed) {
  if (!installedExists) return true;
  if (!carried || !installed || carried->empty() || installed->empty()) return false;
  const size_t length = std::max(carried->size(), installed->size());
  for (size_t i = 0; i < length; ++i) {
    const int32_t ours = i < carried->size() ? (*carried)[i] : 0;
    const int32_t theirs = i < installed->size() ? (*installed)[i] : 0;
    if (ours != theirs) return theirs < ours;
  }
  return false;
}
