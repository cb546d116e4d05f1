#pragma once
// A bundle's strings files (Localizable.strings, InfoPlist.strings in Resources/<language>.lproj):
// pairs of "key" = "value"; with /* */ and // comments, written in UTF-16 (with its byte-order
// mark) or UTF-8. Keys may also be written without quotes (letters, digits, "_", ".", "-").
// Escapes: \" \\ \n \t \r and \Uxxxx (four hexadecimal digits). A later key does not replace an
// earlier one. Anything malformed refuses the whole file, as the system does.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace mac {

using StringsTable = std::map<std::string, std::string, std::less<>>;

// Nothing, with `error`, for bytes that are not a strings file.
std::optional<StringsTable> ParseStrings(std::span<const uint8_t> bytes, std::string* error = nullptr);

}  // namespace mac
