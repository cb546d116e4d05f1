#include "mac/shared/ini_file.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace {

// "[S]K=V,K=V;[T]..." in the table's order, for whole-table comparisons.
std::string Shown(const IniSectionTable& table) {
  std::string out;
  for (const auto& [section, keys] : table) {
    out += "[" + section + "]";
    bool first = true;
    for (const auto& [key, value] : keys) out += (std::exchange(first, false) ? "" : ",") + key + "=" + value;
    out += ";";
  }
  return out;
}

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> Utf16(std::u16string_view text, bool bigEndian, bool mark) {
  std::vector<uint8_t> bytes;
  for (char16_t c : (mark ? u"\uFEFF" : u"") + std::u16string(text)) {
    bytes.push_back(static_cast<uint8_t>(bigEndian ? c >> 8 : c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(bigEndian ? c & 0xFF : c >> 8));
  }
  return bytes;
}

TEST(IniParse, LineRules) {
  struct Case {
    const char* what;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"blanks go everywhere, comment cut", "[S]\nKEY = a b ; note\n", "[S]KEY=ab;"},
      {"further '=' stay in the value; empty key", "[S]\nKEY=A=B\n=X\n", "[S]=X,KEY=A=B;"},
      {"first key wins", "[S]\nK=1\nK=2\n", "[S]K=1;"},
      {"first section wins, also when the second is last", "[S]\nK=1\n[T]\nX=1\n[S]\nK=2\nL=3\n", "[S]K=1;[T]X=1;"},
      {"lines before a section", "K=0\n[S]\nK=1", "[S]K=1;"},
      {"tabs, CR LF, CR alone, blanks in the header", "\t[ S ]\t\r\nK\t=\tv\rL=w", "[S]K=v,L=w;"},
      {"a section without keys is kept", "[S]\nnoequals\n; comment\n   \n", "[S];"},
      {"'[' without ']' closes the open section, opens none", "[S]\nK=v\n[broken\nL=w\n[T]\nM=x", "[S]K=v;[T]M=x;"},
      {"']' before '[' does not count", "]S[\nK=v\n", ""},
      {"text around the brackets; empty name", "x[S]y\nK=v\n[]\nK=w", "[]K=w;[S]K=v;"},
      {"names are case-sensitive", "[s]\nk=1\n[S]\nK=2", "[S]K=2;[s]k=1;"},
  };
  for (const Case& c : cases) EXPECT_EQ(Shown(ParseIniText(c.text)), c.expected) << c.what;
}

TEST(IniParse, DecodingOfEachProgram) {
  const char16_t* text = u"[INFO]\r\nNAME=Überspielen\r\n";
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool wrapperReads;
  };
  const Case cases[] = {
      {"UTF-8", Bytes("[INFO]\r\nNAME=Überspielen\r\n"), true},
      {"UTF-8 with mark", Bytes("\xEF\xBB\xBF[INFO]\r\nNAME=Überspielen\r\n"), true},
      {"UTF-16LE with mark", Utf16(text, false, true), false},
      {"UTF-16BE with mark", Utf16(text, true, true), false},
      {"UTF-16LE without mark", Utf16(text, false, false), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Shown(ParseIniBytes(c.bytes, IniDecoding::UnicodeOrUtf8)), "[INFO]NAME=Überspielen;") << c.what;
    EXPECT_EQ(Shown(ParseIniBytes(c.bytes, IniDecoding::Utf8Only)), c.wrapperReads ? "[INFO]NAME=Überspielen;" : "")
        << c.what;
  }
  EXPECT_TRUE(ParseIniBytes(Bytes("[INFO]\nK=\xFF\n"), IniDecoding::UnicodeOrUtf8).empty());
  // A zero anywhere among the first four bytes means UTF-16 (here the fourth: 3B FF 0A 00 ...).
  EXPECT_EQ(Shown(ParseIniBytes(Utf16(u"\uFF3B\n[A]", false, false), IniDecoding::UnicodeOrUtf8)), "[A];");
}

TEST(SharedIniFile, LookUpsAndTheSharedInstance) {
  std::map<std::string, std::vector<uint8_t>> files = {{"/R/FwUpDate.INI", Bytes("[FIRMWARE]\nVersion=1.01\n=X\n")},
                                                       {"/R/other.ini", Bytes("[OTHER]\nK=v\n")}};
  FwUpIniFile::setReader(IniDecoding::UnicodeOrUtf8, [&](const std::string& path) {
    return files.contains(path) ? std::optional(files[path]) : std::nullopt;
  });
  FwUpIniFile* ini = FwUpIniFile::iniFileObject("/R/FwUpDate.INI");
  ASSERT_EQ(FwUpIniFile::getObject(), ini);
  EXPECT_EQ(ini->getIniFileValue("Version", "FIRMWARE"), "1.01");
  EXPECT_EQ(ini->getIniFileValue("", "FIRMWARE"), "X");
  EXPECT_EQ(ini->getIniFileValue("version", "FIRMWARE"), std::nullopt);
  EXPECT_EQ(ini->getIniFileValue(std::nullopt, "FIRMWARE"), std::nullopt);
  EXPECT_EQ(ini->getIniFileValue("Version", std::nullopt), std::nullopt);
  EXPECT_EQ(ini->getIniFileSectionDictionary("FIRMWARE2"), nullptr);

  // Reading again starts from an empty table; a missing file leaves it empty; no path, no instance.
  ini->createIniFileDictionary("/R/other.ini");
  EXPECT_EQ(Shown(ini->sections()), "[OTHER]K=v;");
  EXPECT_TRUE(FwUpIniFile::iniFileObject("/R/missing.ini")->sections().empty());
  EXPECT_EQ(FwUpIniFile::iniFileObject(std::nullopt), nullptr);
  EXPECT_EQ(FwUpIniFile::getObject(), nullptr);

  FwUpIniFile::releaseObject();
  FwUpIniFile::setReader(IniDecoding::UnicodeOrUtf8, {});
}

}  // namespace
