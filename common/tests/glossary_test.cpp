#include "common/glossary.h"

#include <gtest/gtest.h>

#include "common/utf.h"

namespace {

std::vector<uint8_t> Utf16LeWithBom(std::u16string_view text) {
  std::vector<uint8_t> bytes{0xFF, 0xFE};
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

TEST(GlossaryTable, ReadsRowsByIdAndColumn) {
  const auto bytes = Utf16LeWithBom(u"WinVal\tJPN\tENU\tDEU\r\n10000\t更新\tUpdate\\n now\tAktualisieren\r\n"
                                    u"11010\tモデル: %s\tModel: %s\tModell: %s\r\n");
  const GlossaryReadResult result = ReadGlossaryTable(bytes);
  EXPECT_TRUE(result.problems.empty());
  const GlossaryTable& table = result.table;
  ASSERT_EQ(table.languages.size(), 3u);
  EXPECT_EQ(table.ColumnOf(u"ENU"), 1u);
  EXPECT_EQ(table.ColumnOf(u"KOR"), std::nullopt);
  EXPECT_EQ(table.Text(10000, 1), u"Update\\n now");  // escapes are the library's business
  EXPECT_EQ(table.Text(11010, 0), u"モデル: %s");
  EXPECT_EQ(table.Text(11010, 7), u"");
  EXPECT_EQ(table.Text(12345, 0), u"");
}

TEST(GlossaryTable, DamagedTablesNeverFailHard) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    size_t rows;
    size_t problems;
  };
  auto withoutBom = Utf16LeWithBom(u"WinVal\tENU\r\n1\tA\r\n");
  withoutBom.erase(withoutBom.begin(), withoutBom.begin() + 2);
  auto odd = Utf16LeWithBom(u"WinVal\tENU\r\n1\tA\r\n");
  odd.push_back(0x41);
  const Case cases[] = {
      {"empty", {}, 0, 1},
      {"BOM only", {0xFF, 0xFE}, 0, 1},
      {"no BOM", withoutBom, 0, 1},
      {"big-endian BOM", {0xFE, 0xFF, 0, 'W'}, 0, 1},
      {"odd byte count", odd, 1, 1},
      {"id not a number", Utf16LeWithBom(u"WinVal\tENU\r\n12a\tA\r\n2\tB\r\n"), 1, 1},
      {"id too large", Utf16LeWithBom(u"WinVal\tENU\r\n99999999999\tA\r\n"), 0, 1},
      {"short line", Utf16LeWithBom(u"WinVal\tENU\tDEU\r\n1\tA\r\n"), 1, 1},
      {"long line", Utf16LeWithBom(u"WinVal\tENU\r\n1\tA\tB\r\n"), 1, 1},
      {"duplicate id", Utf16LeWithBom(u"WinVal\tENU\r\n1\tA\r\n1\tB\r\n"), 1, 1},
      {"LF only and no final line end", Utf16LeWithBom(u"WinVal\tENU\n1\tA\n2\tB"), 2, 0},
      {"bad header", Utf16LeWithBom(u"Id\tENU\r\n1\tA\r\n"), 1, 1},
  };
  for (const Case& c : cases) {
    const GlossaryReadResult result = ReadGlossaryTable(c.bytes);
    EXPECT_EQ(result.table.texts.size(), c.rows) << c.what;
    EXPECT_EQ(result.problems.size(), c.problems) << c.what;
  }

  const auto shortLine = ReadGlossaryTable(Utf16LeWithBom(u"WinVal\tENU\tDEU\r\n1\tA\r\n"));
  EXPECT_EQ(shortLine.table.Text(1, 0), u"A");
  EXPECT_EQ(shortLine.table.Text(1, 1), u"");
  EXPECT_EQ(shortLine.problems[0], "line 2: 2 fields, the header has 3");
  const auto duplicate = ReadGlossaryTable(Utf16LeWithBom(u"WinVal\tENU\r\n1\tA\r\n1\tB\r\n"));
  EXPECT_EQ(duplicate.table.Text(1, 0), u"A");
}

TEST(GlossaryTable, WritesTheExactFileForm) {
  GlossaryTable table;
  table.languages = {u"JPN", u"ENU"};
  table.texts[11013] = {u"キャンセル", u"Cancel"};
  table.texts[10000] = {u"", u"Firmware"};  // written before 11013: ids ascend
  table.texts[10001] = {u"x"};              // a short row is widened to the header
  const auto bytes = WriteGlossaryTable(table);
  EXPECT_EQ(bytes, Utf16LeWithBom(u"WinVal\tJPN\tENU\r\n10000\t\tFirmware\r\n10001\tx\t\r\n11013\tキャンセル\tCancel\r\n"));

  const auto back = ReadGlossaryTable(bytes);
  EXPECT_TRUE(back.problems.empty());
  EXPECT_EQ(back.table.languages, table.languages);
  EXPECT_EQ(back.table.Text(11013, 0), u"キャンセル");
  EXPECT_EQ(back.table.Text(10001, 1), u"");
}

TEST(GlossaryEscapes, ReplacesKnownPairsOnly) {
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {
      {u"a\\nb", u"a\nb"},
      {u"\\t\\r\\v\\b\\a\\c", u"\t\r\v\b\a\x0F"},
      {u"x\\0y", std::u16string(u"x\0y", 3)},
      {u"\\\\n", u"\\n"},  // an escaped backslash, then a plain n
      {u"\\\"\\'\\?", u"\"'?"},
      {u"\\q\\%", u"\\q\\%"},
      {u"end\\", u"end\\"},
      {u"\\\\\\n", u"\\\n"},
      // A character whose double-byte form ends in 0x5C stays untouched: the text is still UTF-16.
      {u"表\\n示", u"表\n示"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceGlossaryEscapes(c.in), c.out) << Utf16ToUtf8(c.in);
}

TEST(LanguageCodeFor, PrimaryLanguageOrWholeChineseId) {
  struct Case {
    uint16_t id;
    const char* code;
  };
  const Case cases[] = {{0x0411, "JPN"}, {0x0409, "ENU"}, {0x0809, "ENU"}, {0x0407, "DEU"}, {0x0807, "DEU"},
                        {0x040C, "FRA"}, {0x0C0C, "FRA"}, {0x0410, "ITA"}, {0x040A, "ESP"}, {0x0C0A, "ESP"},
                        {0x0404, "CHT"}, {0x0804, "CHS"}, {0x0C04, "ENU"}, {0x1004, "ENU"}, {0x0412, "KOR"},
                        {0x0419, "RUS"}, {0x0413, "ENU"}, {0x0000, "ENU"}, {0xFFFF, "ENU"}};
  for (const Case& c : cases) EXPECT_STREQ(LanguageCodeFor(c.id), c.code) << std::hex << c.id;
}

}  // namespace
