#include "mac/shared/localize_table.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/utf.h"
#include "mac/shared/text_decoding.h"

namespace {

bool IsOneOf(std::string_view value, std::initializer_list<std::string_view> candidates) {
  return std::find(candidates.begin(), candidates.end(), value) != candidates.end();
}

std::vector<std::string_view> SplitAtTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

// The length of `text` without its last character (a whole UTF-8 sequence, never part of one).
size_t WithoutLastCharacter(std::string_view text) {
  if (text.empty()) return 0;
  size_t end = text.size() - 1;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return end;
}

}  // namespace

int SelectLanguageNo(const std::vector<std::string>& preferredLanguages,
                     const std::vector<std::string>& bundleLocalizations) {
  using namespace language_no;
  if (preferredLanguages.empty() ||
      !IsOneOf(preferredLanguages.front(),
               {"Japanese", "English", "French", "German", "Italian", "Spanish", "ru", "zh-CN", "zh-TW", "ko", "zh_TW",
                "zh_CN", "ja", "en", "fr", "de", "it", "es", "zh-Hans", "zh-Hant"})) {
    return kEnglish;
  }
  if (bundleLocalizations.empty()) return kEnglish;

  static constexpr std::pair<std::string_view, int> kByLocalization[] = {
      {"English", kEnglish}, {"Japanese", kJapanese}, {"German", kGerman},  {"French", kFrench},
      {"Italian", kItalian}, {"Spanish", kSpanish},   {"zh_TW", kChineseTraditional},
      {"zh_CN", kChineseSimplified},                  {"ko", kKorean},      {"da", kDanish},
      {"Dutch", kDutch},     {"pt", kPortuguese},     {"ru", kRussian},
  };
  for (const auto& [localization, number] : kByLocalization) {
    if (bundleLocalizations.front() == localization) return number;
  }
  return kEnglish;
}

bool IsStartFromSundayFor(const std::vector<std::string>& bundleLocalizations) {
  return bundleLocalizations.empty() || !IsOneOf(bundleLocalizations.front(), {"German", "French", "Italian", "Spanish"});
}

std::optional<LocalizeTable> ReadLocalizeTable(std::span<const uint8_t> bytes, int languageNo) {
  const auto text = DecodeUnicodeOrUtf8Text(bytes);
  if (!text) return std::nullopt;
  LocalizeTable table;
  if (languageNo < 0) return table;
  const auto column = static_cast<size_t>(languageNo);

  bool header = true;
  ForEachLine(*text, [&](std::string_view line) {
    if (std::exchange(header, false)) return;
    if (line.find('\t') == std::string_view::npos) return;
    const auto fields = SplitAtTabs(line);
    if (fields.size() < column + 1) return;
    table.insert_or_assign(std::string(fields[0]), ReplaceLocalizeEscapes(fields[column]));
  });
  return table;
}

std::string ReplaceLocalizeEscapes(std::string_view field) {
  std::string out;
  out.reserve(field.size() + 8);
  for (size_t i = 0; i < field.size(); ++i) {
    const char next = i + 1 < field.size() ? field[i + 1] : '\0';
    if (field[i] == '\\' && next == 'n') {
      out.push_back('\n');
      ++i;
    } else if (field[i] == '\\' && next == 't') {
      out.push_back('\t');
      ++i;
    } else if (field[i] == '%' && next == 's') {
      out.append("%@");
      ++i;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::string StripSurroundingQuotes(std::string_view text) {
  if (!text.starts_with('"')) return std::string(text);
  text.remove_prefix(1);
  return std::string(text.substr(0, WithoutLastCharacter(text)));
}

std::optional<std::string_view> LanguageNameFor(std::string_view code) {
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {"JPN", "Japanese"},  {"CHS", "Chinese (Simplified)"},  {"KOR", "Korean"},    {"CHT", "Chinese (Traditional)"},
      {"HRV", "Croatian"},  {"CSY", "Czech"},     {"HUN", "Hungarian"}, {"PLK", "Polish"},    {"SKY", "Slovak"},
      {"SLV", "Slovenian"}, {"UKR", "Ukranian"},  {"DAN", "Danish"},    {"NLD", "Dutch"},     {"ENU", "English US"},
      {"FIN", "Finnish"},   {"FRA", "French"},    {"DEU", "German"},    {"ITA", "Italian"},   {"NOR", "Norwegian"},
      {"PTG", "Portuguese"}, {"RUS", "Russian"},  {"ESP", "Spanish"},   {"SVE", "Swedish"},   {"ELL", "Greek"},
      {"TRK", "Turkish"},   {"SRB", "Serbian"},   {"ETI", "Estonian"},  {"LVI", "Latvian"},   {"LTH", "Lithuanian"},
      {"THA", "Thai"},      {"ARA", "Arabic"},
  };
  if (code.size() < 3) return std::nullopt;
  code = code.substr(0, 3);
  for (const auto& [known, name] : kNames) {
    if (code == known) return name;
  }
  return std::nullopt;
}

LocalizeTable ReadKlcTable(std::span<const uint8_t> bytes) {
  LocalizeTable table;
  std::vector<std::string> fields(1);
  bool header = true;
  auto endLine = [&] {
    const bool keep = !std::exchange(header, false) && fields.size() >= 3;
    if (keep) {
      std::string key = fields[0].substr(0, fields[0].find('\0'));
      const std::string& value = fields[2];
      if (!key.empty()) table.insert_or_assign(std::move(key), Utf8ToUtf16(value) ? value : std::string());
    }
    fields.assign(1, std::string());
  };

  bool afterCr = false;
  for (const uint8_t byte : bytes) {
    if (byte == '\n' && afterCr) {
      // The CR before this LF already ended the line's last field.
      fields.pop_back();
      endLine();
    } else if (byte == '\t' || byte == '\r') {
      fields.emplace_back();
    } else {
      fields.back().push_back(static_cast<char>(byte));
    }
    afterCr = byte == '\r';
  }
  // A last line without CR LF still counts; a CR that ends the bytes ended its last field.
  if (afterCr) fields.pop_back();
  if (fields.size() > 1 || !fields[0].empty()) endLine();
  return table;
}

std::string FormatLocalizedText(std::string_view format, std::span<const std::string_view> args) {
  static constexpr std::array<std::string_view, 7> kPlaceholders = {"%@", "%ld", "%li", "%lu", "%d", "%i", "%u"};
  std::string out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  size_t i = 0;
  while (i < format.size()) {
    const std::string_view rest = format.substr(i);
    if (rest.starts_with("%%")) {
      out.push_back('%');
      i += 2;
      continue;
    }
    const auto placeholder = std::find_if(kPlaceholders.begin(), kPlaceholders.end(),
                                          [&](std::string_view p) { return rest.starts_with(p); });
    if (placeholder != kPlaceholders.end()) {
      if (next < args.size()) out.append(args[next]);
      ++next;
      i += placeholder->size();
      continue;
    }
    out.push_back(format[i]);
    ++i;
  }
  return out;
}
