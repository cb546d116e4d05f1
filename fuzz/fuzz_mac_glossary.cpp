// The Mac glossary reader and its look-ups, and the older "klc" table: any bytes give texts that are
// whole UTF-8, no "%s" survives the reading, and no look-up or format runs past a text.
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "common/utf.h"
#include "mac/shared/localize.h"

namespace {

void CheckText(std::string_view text) {
  if (!Utf8ToUtf16(text)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);

  for (int language : {1, 2, 34}) {
    const auto table = ReadLocalizeTable(bytes, language);
    if (!table) continue;
    for (const auto& [id, text] : *table) {
      if (text.find("%s") != std::string::npos || text.find('\r') != std::string::npos) std::abort();
      if (id.find_first_of("\t\r\n") != std::string::npos) std::abort();
    }
  }

  LocalizeEnvironment environment;
  environment.preferredLanguages = [] { return std::vector<std::string>{"en"}; };
  environment.bundleLocalizations = [] { return std::vector<std::string>{"English"}; };
  environment.readFile = [&](const std::string&) { return std::optional(bytes); };
  CMLocalize texts(environment);
  texts.setLocalizeCSVFile("glossaries.txt");
  const auto table = ReadLocalizeTable(bytes, texts.getCurrentLanguageNo());
  std::string previous;
  size_t looked = 0;
  for (const auto& [id, stored] : table.value_or(LocalizeTable{})) {
    if (++looked > 64) break;
    for (const std::string& asked : {id, id + ":", id + "..."}) {
      const std::string text = texts.getLocalizedString(asked);
      CheckText(text);
      if (text == previous && !CMLocalize::isCorrectLocalizedString(text)) std::abort();
      previous = text;
      CheckText(FormatLocalizedText(text, {"a"}));
    }
  }

  for (const auto& [key, value] : ReadKlcTable(bytes)) {
    if (key.empty() || key.find('\0') != std::string::npos) std::abort();
    CheckText(value);
  }
  return 0;
}
