// The Mac INI reader in both programs' forms: whatever the bytes, names and values hold none of the
// characters the parse removes or splits at, and both forms agree where they read the same text.
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"
#include "mac/shared/ini_file.h"
#include "mac/shared/text_decoding.h"

namespace {

void CheckTable(const IniSectionTable& table) {
  auto clean = [](std::string_view text, std::string_view forbidden) {
    if (text.find_first_of(forbidden) != std::string_view::npos) std::abort();
  };
  for (const auto& [section, keys] : table) {
    clean(section, " \t\r\n;]");
    for (const auto& [key, value] : keys) {
      clean(key, " \t\r\n;=[");
      clean(value, " \t\r\n;[");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span bytes(data, size);
  const IniSectionTable wrapper = ParseIniBytes(bytes, IniDecoding::Utf8Only);
  const IniSectionTable updater = ParseIniBytes(bytes, IniDecoding::UnicodeOrUtf8);
  CheckTable(wrapper);
  CheckTable(updater);

  // The same text as UTF-16 with a mark reads in the updater's form as the UTF-8 does in the wrapper's.
  const auto text = DecodeUtf8Text(bytes);
  if (!text) return 0;
  std::vector<uint8_t> utf16{0xFF, 0xFE};
  const std::u16string units = Utf8ToUtf16(*text).value();
  for (char16_t c : units) {
    utf16.push_back(static_cast<uint8_t>(c & 0xFF));
    utf16.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (ParseIniBytes(utf16, IniDecoding::UnicodeOrUtf8) != wrapper) std::abort();
  return 0;
}
