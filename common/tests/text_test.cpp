#include <gtest/gtest.h>

#include "common/text_format.h"
#include "common/text_scan.h"
#include "common/utf.h"

namespace {

TEST(FormatText, HonoursOnlyStringPlaceholders) {
  struct Case {
    const char* format;
    std::vector<std::string_view> args;
    const char* expected;
  };
  const Case cases[] = {
      {"Model: %s", {"ZT-5100"}, "Model: ZT-5100"},
      {"%s then %s", {"a", "b"}, "a then b"},
      {"%s and %s and %s", {"only"}, "only and  and "},
      {"100%% %s", {"done"}, "100% done"},
      {"%d %x %n %", {"ignored"}, "%d %x %n %"},
      {"%%s", {"x"}, "%s"},
      {"no placeholder", {"x", "y"}, "no placeholder"},
      {"", {}, ""},
  };
  for (const Case& c : cases) {
    const std::span<const std::string_view> args(c.args.data(), c.args.size());
    EXPECT_EQ(FormatText<char>(c.format, args), c.expected) << c.format;
  }
  EXPECT_EQ(FormatText(std::wstring_view(L"[%s]"), {L"&Next"}), L"[&Next]");
}

TEST(Utf, RoundTripsAndRefusesMalformedInput) {
  const std::string samples[] = {"ASCII", "Größe", "更新しています", "Обновление", "𝄞 clef", ""};
  for (const auto& s : samples) {
    const auto wide = Utf8ToUtf16(s);
    ASSERT_TRUE(wide.has_value()) << s;
    EXPECT_EQ(Utf16ToUtf8(*wide), s);
  }
  const std::string bad[] = {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "a\x80"};
  for (const auto& s : bad) EXPECT_FALSE(Utf8ToUtf16(s).has_value());
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(TextScan, DecimalAndHexRules) {
  EXPECT_EQ(ScanDecimalU32("  42abc"), 42u);
  EXPECT_EQ(ScanDecimalU32("abc"), 0u);
  EXPECT_EQ(ScanDecimalU32("4294967296"), 0u);  // wraps like an unsigned conversion cut to 32 bits
  EXPECT_EQ(ScanHexU64Saturating(" 0x1F4"), 500u);
  EXPECT_EQ(ScanHexU64Saturating("0x"), 0u);
  EXPECT_EQ(ScanHexU64Saturating(std::string(400, 'f')), UINT64_MAX);
}

}  // namespace
