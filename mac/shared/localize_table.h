#pragma once
// The rules behind CMLocalize that need no platform: which column of the glossary table a user gets,
// how the table and the older "klc" table are read, how found texts are cleaned, language names and
// the formatter for the texts.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Language numbers are column numbers of the glossary table (0 is the id column). 34, 35 and 36 are
// languages the table does not carry; every look-up then answers with a placeholder.
namespace language_no {
inline constexpr int kJapanese = 1;
inline constexpr int kEnglish = 2;
inline constexpr int kFrench = 3;
inline constexpr int kSpanish = 4;
inline constexpr int kGerman = 5;
inline constexpr int kItalian = 6;
inline constexpr int kRussian = 7;
inline constexpr int kChineseTraditional = 8;
inline constexpr int kChineseSimplified = 9;
inline constexpr int kKorean = 10;
inline constexpr int kDanish = 34;
inline constexpr int kDutch = 35;
inline constexpr int kPortuguese = 36;
}  // namespace language_no

// The user's first preferred language must be one the programs know, else English; then the first
// localization the platform chose for the program's bundle decides.
int SelectLanguageNo(const std::vector<std::string>& preferredLanguages,
                     const std::vector<std::string>& bundleLocalizations);

// A month calendar starts on Monday for the bundle localizations German, French, Italian and Spanish.
bool IsStartFromSundayFor(const std::vector<std::string>& bundleLocalizations);

using LocalizeTable = std::map<std::string, std::string, std::less<>>;

// The glossary table's column `languageNo` by id. UTF-16 or UTF-8 as the first bytes say; the header
// line is skipped, and so are lines without a tab or with too few fields. A later line with an id
// replaces an earlier one. Nothing when the bytes do not decode.
std::optional<LocalizeTable> ReadLocalizeTable(std::span<const uint8_t> bytes, int languageNo);

// A stored field as the program shows it: backslash-n becomes a line feed, backslash-t a tab, and
// "%s" becomes "%@", the placeholder the Mac formatter fills with text.
std::string ReplaceLocalizeEscapes(std::string_view field);

// A text that begins with a double quote loses its first and its last character.
std::string StripSurroundingQuotes(std::string_view text);

// The English name of a three-letter language code (only the first three characters count).
std::optional<std::string_view> LanguageNameFor(std::string_view code);

// The older "klc" table: bytes, fields ended by TAB or CR, lines by CR LF, a header line. The key is
// the first field up to any zero byte, as its bytes stand; the value is the third field (empty when it
// is not UTF-8). Lines with fewer than three fields or an empty key are left out; a later line with a
// key replaces an earlier one.
LocalizeTable ReadKlcTable(std::span<const uint8_t> bytes);

// Formats a text from the table. Translations are data, so only these are honoured: "%@" and the
// integer forms "%d", "%i", "%u", "%ld", "%li", "%lu", each taking the next argument as written
// (an absent argument gives an empty text), and "%%". Anything else stays as it is.
std::string FormatLocalizedText(std::string_view format, std::span<const std::string_view> args);
inline std::string FormatLocalizedText(std::string_view format, std::initializer_list<std::string_view> args) {
  return FormatLocalizedText(format, std::span<const std::string_view>(args.begin(), args.size()));
}
