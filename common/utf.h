#pragma once
// UTF-8 <-> UTF-16 without the platform: the host tools, the simulated devices and the Mac layer all
// need it, and none of them may depend on a locale.

#include <optional>
#include <string>
#include <string_view>

// Nothing on malformed input (bad lead or trail bytes, overlong forms, surrogates, > U+10FFFF).
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// Unpaired surrogates become U+FFFD, so any UTF-16 text can be shown.
std::string Utf16ToUtf8(std::u16string_view text);
