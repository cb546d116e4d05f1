#include "mac/shared/text_decoding.h"

#include <algorithm>

#include "common/utf.h"

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool StartsWith(std::span<const uint8_t> bytes, uint8_t first, uint8_t second) {
  return bytes.size() >= 2 && bytes[0] == first && bytes[1] == second;
}

std::string DecodeUtf16(std::span<const uint8_t> bytes) {
  bool bigEndian = false;
  if (StartsWith(bytes, 0xFE, 0xFF)) {
    bigEndian = true;
    bytes = bytes.subspan(2);
  } else if (StartsWith(bytes, 0xFF, 0xFE)) {
    bytes = bytes.subspan(2);
  }
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned high = bigEndian ? bytes[i] : bytes[i + 1];
    const unsigned low = bigEndian ? bytes[i + 1] : bytes[i];
    units.push_back(static_cast<char16_t>((high << 8) | low));
  }
  return Utf16ToUtf8(units);
}

}  // namespace

std::optional<std::string> DecodeUtf8Text(std::span<const uint8_t> bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!Utf8ToUtf16(text)) return std::nullopt;
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  return std::string(text);
}

std::optional<std::string> DecodeUnicodeOrUtf8Text(std::span<const uint8_t> bytes) {
  const auto head = bytes.first(std::min<size_t>(bytes.size(), 4));
  const bool utf16 = StartsWith(bytes, 0xFF, 0xFE) || StartsWith(bytes, 0xFE, 0xFF) ||
                     std::find(head.begin(), head.end(), uint8_t{0}) != head.end();
  if (utf16) return DecodeUtf16(bytes);
  return DecodeUtf8Text(bytes);
}

void ForEachLine(std::string_view text, const std::function<void(std::string_view line)>& line) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      line(text.substr(start));
      return;
    }
    line(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}
