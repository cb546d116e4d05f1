#pragma once
// Writes values into an INI text while keeping everything else of it as written: the bundle
// templates are edited by hand, and their order and comments should survive the build.

#include <string>
#include <string_view>

// Sets section/key to value. Section and key names match regardless of letter case, as the
// profile readers that read the file back match them. A missing key is added at the end of its
// section, a missing section at the end of the text. Lines end with CR LF afterwards.
std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key, std::string_view value);

// Every line, the last included, ends with `newline`.
std::string WithLineEndings(std::string_view text, std::string_view newline);
