#include "common/fw_version.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
  const char* text;
  FwVersion expected;
  const char* shown;
};

class ParseVersionTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseVersionTest, ParsesAndShows) {
  const ParseCase& c = GetParam();
  const FwVersion v = ParseVersion(c.text);
  EXPECT_EQ(v, c.expected) << c.text;
  EXPECT_EQ(FormatVersion(v), c.shown) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ParseVersionTest,
    testing::Values(ParseCase{"1.01", {1, 1, 0}, "1.01"}, ParseCase{"1.01b", {1, 1, 2}, "1.01b"},
                    ParseCase{"1.01A", {1, 1, 1}, "1.01a"}, ParseCase{"1.2.3", {1, 0, 0}, "1.00"},
                    ParseCase{"", {1, 0, 0}, "1.00"}, ParseCase{"101", {1, 0, 0}, "1.00"},
                    ParseCase{"V1.00", {1, 0, 0}, "1.00"}, ParseCase{"Ver 2.05", {2, 5, 0}, "2.05"},
                    ParseCase{"  3 .  7z ", {3, 7, 26}, "3.07z"}, ParseCase{"2.100", {2, 100, 0}, "2.100"},
                    ParseCase{".5", {0, 5, 0}, "0.05"}, ParseCase{"1.", {1, 0, 0}, "1.00"},
                    ParseCase{"1.a", {1, 0, 1}, "1.00a"}, ParseCase{"x.y", {0, 0, 25}, "0.00y"},
                    ParseCase{"1a2.03", {2, 3, 0}, "2.03"}, ParseCase{"-1.-2", {0, 0, 0}, "0.00"},
                    // Digits beyond 16 bits wrap instead of trapping; nothing here may crash.
                    ParseCase{"65537.65536", {1, 0, 0}, "1.00"}));

TEST(FormatVersion, ShowsLetterAndWideMinor) {
  EXPECT_EQ(FormatVersion({1, 1, 0}), "1.01");
  EXPECT_EQ(FormatVersion({1, 1, 1}), "1.01a");
  EXPECT_EQ(FormatVersion({2, 100, 0}), "2.100");
  EXPECT_EQ(FormatVersion({65535, 65535, 0}), "65535.65535");
}

TEST(FwVersionOrder, FieldByFieldUnsigned) {
  struct Case {
    FwVersion a, b;
    int sign;
  };
  const Case cases[] = {
      {{1, 1, 0}, {1, 1, 0}, 0},  {{1, 1, 0}, {1, 1, 1}, -1}, {{1, 0, 1}, {1, 1, 0}, -1},
      {{0, 99, 0}, {1, 0, 0}, -1}, {{1, 10, 0}, {1, 9, 0}, 1}, {{0xFFFF, 0, 0}, {1, 0, 0}, 1},
  };
  for (const Case& c : cases) {
    const auto order = c.a <=> c.b;
    const int sign = order < 0 ? -1 : (order > 0 ? 1 : 0);
    EXPECT_EQ(sign, c.sign) << FormatVersion(c.a) << " vs " << FormatVersion(c.b);
  }
}

}  // namespace
