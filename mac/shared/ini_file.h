#pragma once
// FwUpIniFile: the INI reader both Mac programs use for FwUpDate.INI and TWINFLASH.INI. The file
// becomes a table of sections, each a table of keys and values, all text.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// How a program's copy of the reader turns bytes into text. Twinflash reads UTF-8 only (a UTF-16 file
// reads as empty); Reflash also reads UTF-16, as the Windows tools write it.
enum class IniDecoding {
  Utf8Only,         // Twinflash
  UnicodeOrUtf8,    // Reflash
};

using IniSection = std::map<std::string, std::string, std::less<>>;
using IniSectionTable = std::map<std::string, IniSection, std::less<>>;

// The whole parse over text. Blanks and tabs count nowhere, not even inside values; ";" starts a
// comment; lines before the first section are ignored; the first section of a name and the first
// key within a section win; "KEY=A=B" gives "A=B"; "=X" gives the empty key.
IniSectionTable ParseIniText(std::string_view text);

// Bytes to table; a file that does not decode gives an empty table.
IniSectionTable ParseIniBytes(std::span<const uint8_t> bytes, IniDecoding decoding);

class FwUpIniFile {
 public:
  // Path to the file's bytes; nothing when it does not exist or cannot be read.
  using Loader = std::function<std::optional<std::vector<uint8_t>>(const std::string& path)>;

  FwUpIniFile(IniDecoding decoding, Loader loader);

  // The program's form of the reader and its file access, for the shared instance. Until a loader is
  // given every file reads as missing.
  static void setReader(IniDecoding decoding, Loader loader);

  // Replaces the shared instance by one holding the file; nothing (and no shared instance) for no path.
  static FwUpIniFile* iniFileObject(std::optional<std::string_view> path);
  static FwUpIniFile* getObject();
  static void releaseObject();

  // Empties the table, then fills it from the file; a missing or undecodable file leaves it empty.
  void createIniFileDictionary(std::optional<std::string_view> path);

  const IniSection* getIniFileSectionDictionary(std::optional<std::string_view> section) const;
  std::optional<std::string> getIniFileValue(std::optional<std::string_view> key,
                                             std::optional<std::string_view> section) const;

  const IniSectionTable& sections() const { return sections_; }

 private:
  IniDecoding decoding_;
  Loader loader_;
  IniSectionTable sections_;
};
