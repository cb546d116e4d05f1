#include "common/text_scan.h"

#include <limits>

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

uint32_t ScanDecimalU32(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  uint32_t value = 0;
  for (; i < text.size() && IsAsciiDigit(text[i]); ++i) value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  return value;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

uint64_t ScanHexU64Saturating(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  // "0x" only counts as a prefix when a hexadecimal digit follows, as with strtoull: "0xg" is 0.
  if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      HexDigit(text[i + 2]) >= 0) {
    i += 2;
  }
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) break;
    if (value > (kMax >> 4)) return kMax;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return value;
}
