#pragma once
// Firmware version of an image or a recorder: major, minor and an optional letter (a = 1 ... z = 26).

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

struct FwVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t letter = 0;

  friend constexpr auto operator<=>(const FwVersion&, const FwVersion&) = default;
};

// Text to version. Anything that is not "<left>.<right>" with exactly one dot reads as 1.00, so a
// damaged or missing value never looks newer than a real release.
FwVersion ParseVersion(std::string_view text);

// "1.01", "1.01a", "2.100".
std::string FormatVersion(const FwVersion& version);
