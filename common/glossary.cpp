#include "common/glossary.h"

#include <algorithm>

namespace {

constexpr char16_t kTab = u'\t';

std::vector<std::u16string_view> SplitFields(std::u16string_view line) {
  std::vector<std::u16string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find(kTab, start);
    if (tab == std::u16string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

std::optional<uint32_t> ParseId(std::u16string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::string LinePrefix(size_t lineNumber) { return "line " + std::to_string(lineNumber) + ": "; }

void AppendUtf16Le(std::vector<uint8_t>& out, std::u16string_view text) {
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
}

}  // namespace

std::optional<size_t> GlossaryTable::ColumnOf(std::u16string_view code) const {
  const auto it = std::find(languages.begin(), languages.end(), code);
  if (it == languages.end()) return std::nullopt;
  return static_cast<size_t>(it - languages.begin());
}

std::u16string GlossaryTable::Text(uint32_t id, size_t column) const {
  const auto row = texts.find(id);
  if (row == texts.end() || column >= row->second.size()) return {};
  return row->second[column];
}

GlossaryReadResult ReadGlossaryTable(std::span<const uint8_t> bytes) {
  GlossaryReadResult result;
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
    result.problems.push_back("not a UTF-16LE text with byte-order mark");
    return result;
  }
  if (bytes.size() % 2 != 0) result.problems.push_back("odd byte count; the last byte is ignored");

  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }

  size_t lineNumber = 0;
  size_t start = 0;
  bool headerSeen = false;
  while (start < text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string_view line(text.data() + start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    if (line.empty()) continue;

    const auto fields = SplitFields(line);
    if (!headerSeen) {
      headerSeen = true;
      if (fields[0] != u"WinVal") result.problems.push_back(LinePrefix(lineNumber) + "header does not start with WinVal");
      result.table.languages.assign(fields.begin() + 1, fields.end());
      continue;
    }

    const auto id = ParseId(fields[0]);
    if (!id) {
      result.problems.push_back(LinePrefix(lineNumber) + "the id is not a number");
      continue;
    }
    const size_t width = result.table.languages.size();
    if (fields.size() != width + 1) {
      result.problems.push_back(LinePrefix(lineNumber) + std::to_string(fields.size()) + " fields, the header has " +
                                std::to_string(width + 1));
    }
    std::vector<std::u16string> row(width);
    for (size_t column = 0; column < width && column + 1 < fields.size(); ++column) {
      row[column] = std::u16string(fields[column + 1]);
    }
    if (!result.table.texts.emplace(*id, std::move(row)).second) {
      result.problems.push_back(LinePrefix(lineNumber) + "id " + std::to_string(*id) + " appears twice; the first is kept");
    }
  }
  if (!headerSeen) result.problems.push_back("the table has no header");
  return result;
}

std::vector<uint8_t> WriteGlossaryTable(const GlossaryTable& table) {
  std::vector<uint8_t> out{0xFF, 0xFE};
  AppendUtf16Le(out, u"WinVal");
  for (const auto& code : table.languages) {
    AppendUtf16Le(out, u"\t");
    AppendUtf16Le(out, code);
  }
  AppendUtf16Le(out, u"\r\n");
  for (const auto& [id, row] : table.texts) {
    const std::string digits = std::to_string(id);
    AppendUtf16Le(out, std::u16string(digits.begin(), digits.end()));
    for (size_t column = 0; column < table.languages.size(); ++column) {
      AppendUtf16Le(out, u"\t");
      if (column < row.size()) AppendUtf16Le(out, row[column]);
    }
    AppendUtf16Le(out, u"\r\n");
  }
  return out;
}

std::u16string ReplaceGlossaryEscapes(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    char16_t replacement = 0;
    switch (text[i + 1]) {
      case u'n': replacement = 0x0A; break;
      case u't': replacement = 0x09; break;
      case u'r': replacement = 0x0D; break;
      case u'v': replacement = 0x0B; break;
      case u'b': replacement = 0x08; break;
      case u'a': replacement = 0x07; break;
      case u'c': replacement = 0x0F; break;
      case u'0': replacement = 0x00; break;
      case u'\\': case u'"': case u'\'': case u'?': replacement = text[i + 1]; break;
      default:
        out.push_back(text[i]);
        out.push_back(text[i + 1]);
        ++i;
        continue;
    }
    out.push_back(replacement);
    ++i;
  }
  return out;
}

const char* LanguageCodeFor(uint16_t languageId) {
  struct Entry {
    const char* code;
    uint16_t id;
  };
  static constexpr Entry kCodes[] = {{"JPN", 0x0411}, {"ENU", 0x0409}, {"DEU", 0x0407}, {"FRA", 0x040C},
                                     {"ITA", 0x0410}, {"ESP", 0x040A}, {"CHT", 0x0404}, {"CHS", 0x0804},
                                     {"KOR", 0x0412}, {"RUS", 0x0419}};
  constexpr uint16_t kPrimaryMask = 0x03FF;
  constexpr uint16_t kChinese = 0x04;
  const bool chinese = (languageId & kPrimaryMask) == kChinese;
  for (const Entry& entry : kCodes) {
    const bool match = chinese ? entry.id == languageId : (entry.id & kPrimaryMask) == (languageId & kPrimaryMask);
    if (match) return entry.code;
  }
  return "ENU";
}
