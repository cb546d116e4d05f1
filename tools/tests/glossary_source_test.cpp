#include "tools/glossary_source.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kHeader = "WinVal\tJPN\tENU\tDEU\n";

TEST(GlossarySource, SoundSourceBecomesTable) {
  const auto result = ParseGlossarySource(std::string(kHeader) +
                                          "11010\tモデル：%s\tModel: %s\tModell: %s\n"
                                          "10000\tプロ\\nグラム\tProgram\\nline\tProgramm\\nZeile\r\n");
  ASSERT_TRUE(result.errors.empty()) << result.errors[0];
  EXPECT_EQ(result.table.texts.size(), 2u);
  EXPECT_EQ(result.table.Text(10000, 1), u"Program\\nline");  // stored form: escapes stay two characters
  EXPECT_EQ(result.table.Text(11010, 0), u"モデル：%s");
}

TEST(GlossarySource, RefusesUnsoundRowsNamingTheLine) {
  struct Case {
    const char* row;
    const char* error;
  };
  const Case cases[] = {
      {"11010\tA %s\tModel: %s\n", "line 2: 3 fields, the header has 4"},
      {"11010\tA %s\tModel: %s\tB %s\tC\n", "line 2: 5 fields, the header has 4"},
      {"1x\ta\tb\tc\n", "line 2: the id \"1x\" is not a number"},
      {"11010\tA\tModel: %s\tModell: %s\n", "line 2: id 11010 JPN: has nothing where ENU has %s"},
      {"11010\tA %s %s\tModel: %s\tModell: %s\n", "line 2: id 11010 JPN: has %s %s where ENU has %s"},
      {"1\tA\\nB\tx\\ny\tx y\n", "line 2: id 1 DEU: has nothing where ENU has \\n"},
      {"1\tA\\q\tx\tx\n", "line 2: id 1 JPN: a backslash that starts no known escape"},
      {"1\t100%\tx\tx\n", "line 2: id 1 JPN: a '%' other than %s or %%"},
      {"1\t%d\tx\tx\n", "line 2: id 1 JPN: a '%' other than %s or %%"},
      {"1\t\tx\tx\n", "line 2: id 1 JPN: the text is missing"},
      {"1\ta\tb\tc\n1\ta\tb\tc\n", "line 3: id 1 appears twice"},
      {"1\t\xC3\tb\tc\n", "line 2: not valid UTF-8"},
  };
  for (const Case& c : cases) {
    const auto result = ParseGlossarySource(std::string(kHeader) + c.row);
    ASSERT_FALSE(result.errors.empty()) << c.row;
    EXPECT_EQ(result.errors[0], c.error) << c.row;
  }
}

TEST(GlossarySource, LineBreaksMayMoveButNotVanish) {
  const auto moved = ParseGlossarySource(std::string(kHeader) + "1\tb\\na\\t\tx\\ty\\n\ta\\n\\tb\n");
  EXPECT_TRUE(moved.errors.empty());
  const auto reordered = ParseGlossarySource(std::string(kHeader) + "1\t%s %%\t%% %s\t%s %%\n");
  EXPECT_FALSE(reordered.errors.empty()) << "placeholders fill in order; their order is fixed";
}

TEST(GlossarySource, RefusesBadHeaders) {
  EXPECT_FALSE(ParseGlossarySource("").errors.empty());
  EXPECT_FALSE(ParseGlossarySource("WinVal\n1\n").errors.empty());
  EXPECT_FALSE(ParseGlossarySource("WinVal\tJPN\tDEU\n1\ta\tb\n").errors.empty()) << "no ENU column";
  EXPECT_FALSE(ParseGlossarySource("Id\tENU\n1\ta\n").errors.empty());
  EXPECT_FALSE(ParseGlossarySource("WinVal\tEnglish\tENU\n1\ta\tb\n").errors.empty());
}

}  // namespace
