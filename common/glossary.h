#pragma once
// The glossary table: every user-visible text by numeric id, one column per language. On disk it is
// UTF-16LE with a byte-order mark, TAB between fields, CR LF after every line (the last included),
// a header "WinVal" followed by three-letter language codes, then one line per id.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct GlossaryTable {
  std::vector<std::u16string> languages;                    // the header's codes after "WinVal"
  std::map<uint32_t, std::vector<std::u16string>> texts;    // by id; one text per language, in order

  std::optional<size_t> ColumnOf(std::u16string_view code) const;
  // Empty for an unknown id, an unknown column or a field the line did not have.
  std::u16string Text(uint32_t id, size_t column) const;
};

struct GlossaryReadResult {
  GlossaryTable table;
  // What was wrong with the file, one line each ("line 7: ..."); the table holds what could be read.
  std::vector<std::string> problems;
};

// Never fails hard: a damaged table yields the rows that could be read, and short lines give empty texts.
GlossaryReadResult ReadGlossaryTable(std::span<const uint8_t> bytes);

// The exact file form: BOM, header, ids ascending, every line as wide as the header, CR LF endings.
std::vector<uint8_t> WriteGlossaryTable(const GlossaryTable& table);

// Turns the two-character escapes of a stored text into the characters they stand for: \n \t \r \v
// \b \a \c(0x0F) \0 and \\ \" \' \?; any other backslash pair stays. Done on UTF-16, before any
// conversion to a double-byte code page, where a trail byte can look like a backslash.
std::u16string ReplaceGlossaryEscapes(std::u16string_view text);

// The three-letter code of the column to use for a Windows language id: Chinese variants must match
// the whole id, other languages their primary language; "ENU" when none matches.
const char* LanguageCodeFor(uint16_t languageId);
