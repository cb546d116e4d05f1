#pragma once
// The two ways the Mac programs turn the bytes of a configuration file or a glossary table into text,
// and the line walk both readers share. Texts are UTF-8 from here on.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// UTF-8 only. Nothing when the bytes are not UTF-8 (a UTF-16 file among them); a UTF-8 byte-order
// mark is dropped.
std::optional<std::string> DecodeUtf8Text(std::span<const uint8_t> bytes);

// UTF-16 when the bytes start with a UTF-16 byte-order mark (FF FE or FE FF) or hold a zero among the
// first four (a shorter file is judged on the bytes it has), else UTF-8. Without a mark the order is
// little-endian, the byte order of the Macs the programs run on. An odd last byte is not part of
// any character and is ignored; an unpaired surrogate reads as U+FFFD.
std::optional<std::string> DecodeUnicodeOrUtf8Text(std::span<const uint8_t> bytes);

// Calls `line` for every line of `text` without its terminator (LF, CR or CR LF). A text that ends
// with a terminator has no empty line after it.
void ForEachLine(std::string_view text, const std::function<void(std::string_view line)>& line);
