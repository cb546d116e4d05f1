#pragma once
// Conversions between the system's ANSI code page, UTF-16 and UTF-8.

#include <string>
#include <string_view>

namespace win {

std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// The calling thread's last error as "message (code)", for diagnostics.
std::string LastErrorText();

}  // namespace win
