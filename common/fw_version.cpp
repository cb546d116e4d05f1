#include "common/fw_version.h"

#include <algorithm>

#include "common/text_scan.h"

namespace {

// The leading decimal number of a value, wrapping like the C library's unsigned conversion would
// be cut to 16 bits: versions are 16-bit fields, and a long run of digits must not trap.
uint16_t LeadingNumber16(std::string_view text) {
  return static_cast<uint16_t>(ScanDecimalU32(text));
}

}  // namespace

FwVersion ParseVersion(std::string_view text) {
  if (std::count(text.begin(), text.end(), '.') != 1) return FwVersion{1, 0, 0};

  const size_t dot = text.find('.');
  std::string_view left = TrimBlanks(text.substr(0, dot));
  const std::string_view right = TrimBlanks(text.substr(dot + 1));

  // "V1" and "Ver 2": only what follows the last letter counts as the major number.
  for (size_t i = left.size(); i-- > 0;) {
    if (IsAsciiAlpha(left[i])) {
      left = left.substr(i + 1);
      break;
    }
  }

  FwVersion version;
  version.major = LeadingNumber16(left);
  version.minor = LeadingNumber16(right);
  const auto letter = std::find_if(right.begin(), right.end(), IsAsciiAlpha);
  if (letter != right.end()) version.letter = static_cast<uint16_t>(ToAsciiUpper(*letter) - 'A' + 1);
  return version;
}

std::string FormatVersion(const FwVersion& version) {
  std::string minor = std::to_string(version.minor);
  if (minor.size() < 2) minor.insert(0, 1, '0');
  std::string text = std::to_string(version.major) + "." + minor;
  if (version.letter != 0) text.push_back(static_cast<char>(version.letter + 96));
  return text;
}
