#pragma once
// Small scanners with the C library's number rules but without its locale and without undefined
// behaviour on overflow. The configuration values they read come from files a user could damage.

#include <cstdint>
#include <string_view>

constexpr bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
constexpr char ToAsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view TrimBlanks(std::string_view text);

// Leading blanks skipped, then decimal digits up to the first other character; 0 without digits.
// The value wraps modulo 2^32, as an unsigned conversion cut to 32 bits does.
uint32_t ScanDecimalU32(std::string_view text);

// Leading blanks skipped, an optional "0x"/"0X", then hexadecimal digits up to the first other
// character; 0 without digits; the largest value when it does not fit into 64 bits.
uint64_t ScanHexU64Saturating(std::string_view text);
