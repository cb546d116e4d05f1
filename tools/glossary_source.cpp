#include "tools/glossary_source.h"

#include <algorithm>
#include <set>

#include "common/utf.h"

namespace {

constexpr std::u16string_view kKnownEscapes = u"ntrvbac0\\\"'?";

std::string At(size_t line) { return "line " + std::to_string(line) + ": "; }

std::vector<std::u16string> Split(std::u16string_view line) {
  std::vector<std::u16string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find(u'\t', start);
    fields.emplace_back(line.substr(start, tab == std::u16string_view::npos ? tab : tab - start));
    if (tab == std::u16string_view::npos) return fields;
    start = tab + 1;
  }
}

bool IsLanguageCode(std::u16string_view code) {
  return code.size() == 3 && std::all_of(code.begin(), code.end(), [](char16_t c) { return c >= u'A' && c <= u'Z'; });
}

std::string Describe(const std::vector<std::u16string>& signature) {
  std::u16string joined;
  for (const auto& token : signature) joined += token + u" ";
  return joined.empty() ? std::string("nothing") : Utf16ToUtf8(joined.substr(0, joined.size() - 1));
}

// A text's own faults, independent of the other languages.
std::string TextFault(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\') {
      if (i + 1 == text.size() || kKnownEscapes.find(text[i + 1]) == std::u16string_view::npos) {
        return "a backslash that starts no known escape";
      }
      ++i;
    } else if (text[i] == u'%') {
      if (i + 1 == text.size() || (text[i + 1] != u's' && text[i + 1] != u'%')) return "a '%' other than %s or %%";
      ++i;
    } else if (text[i] < 0x20) {
      return "a control character";
    }
  }
  return {};
}

}  // namespace

std::vector<std::u16string> PlaceholderSignature(std::u16string_view text) {
  std::vector<std::u16string> tokens;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == u'\\' || (text[i] == u'%' && (text[i + 1] == u's' || text[i + 1] == u'%'))) {
      tokens.emplace_back(text.substr(i, 2));
      ++i;
    }
  }
  return tokens;
}

GlossarySourceResult ParseGlossarySource(std::string_view utf8) {
  GlossarySourceResult result;
  size_t lineNumber = 0;
  size_t width = 0;
  std::optional<size_t> english;
  std::set<uint32_t> seen;

  size_t start = 0;
  while (start < utf8.size()) {
    size_t end = utf8.find('\n', start);
    if (end == std::string_view::npos) end = utf8.size();
    std::string_view raw = utf8.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    if (raw.empty()) continue;

    const auto wide = Utf8ToUtf16(raw);
    if (!wide) {
      result.errors.push_back(At(lineNumber) + "not valid UTF-8");
      continue;
    }
    const auto fields = Split(*wide);

    if (width == 0) {
      width = fields.size();
      if (fields[0] != u"WinVal") result.errors.push_back(At(lineNumber) + "the header must start with WinVal");
      for (size_t i = 1; i < fields.size(); ++i) {
        if (!IsLanguageCode(fields[i])) result.errors.push_back(At(lineNumber) + "\"" + Utf16ToUtf8(fields[i]) + "\" is not a language code");
        result.table.languages.push_back(fields[i]);
      }
      english = result.table.ColumnOf(u"ENU");
      if (!english) result.errors.push_back(At(lineNumber) + "the header has no ENU column");
      if (width < 2) width = 0;  // nothing sensible follows a header without languages
      if (width == 0) break;
      continue;
    }

    if (fields.size() != width) {
      result.errors.push_back(At(lineNumber) + std::to_string(fields.size()) + " fields, the header has " + std::to_string(width));
      continue;
    }
    const std::string idText = Utf16ToUtf8(fields[0]);
    if (idText.empty() || idText.size() > 9 || !std::all_of(idText.begin(), idText.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      result.errors.push_back(At(lineNumber) + "the id \"" + idText + "\" is not a number");
      continue;
    }
    const auto id = static_cast<uint32_t>(std::stoul(idText));
    if (!seen.insert(id).second) {
      result.errors.push_back(At(lineNumber) + "id " + idText + " appears twice");
      continue;
    }

    std::vector<std::u16string> texts(fields.begin() + 1, fields.end());
    bool sound = true;
    for (size_t column = 0; column < texts.size(); ++column) {
      const std::string where = At(lineNumber) + "id " + idText + " " + Utf16ToUtf8(result.table.languages[column]) + ": ";
      if (const std::string fault = TextFault(texts[column]); !fault.empty()) {
        result.errors.push_back(where + fault);
        sound = false;
        continue;
      }
      if (!english || column == *english) continue;
      if (texts[column].empty() && !texts[*english].empty()) {
        result.errors.push_back(where + "the text is missing");
        sound = false;
        continue;
      }
      const auto expected = PlaceholderSignature(texts[*english]);
      const auto actual = PlaceholderSignature(texts[column]);
      // "%s" tokens fill in order and must match exactly; line breaks and tabs may move but not vanish.
      auto only = [](const std::vector<std::u16string>& tokens, bool percent) {
        std::vector<std::u16string> kept;
        for (const auto& t : tokens) {
          if ((t[0] == u'%') == percent) kept.push_back(t);
        }
        if (!percent) std::sort(kept.begin(), kept.end());
        return kept;
      };
      if (only(expected, true) != only(actual, true) || only(expected, false) != only(actual, false)) {
        result.errors.push_back(where + "has " + Describe(actual) + " where ENU has " + Describe(expected));
        sound = false;
      }
    }
    if (sound) result.table.texts.emplace(id, std::move(texts));
  }
  if (width == 0 && result.errors.empty()) result.errors.push_back("the source has no header");
  return result;
}
