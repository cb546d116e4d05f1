#include "mac/shared/versions.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(ConvertVersionString, Examples) {
  struct Case {
    const char* text;
    bool converted;
    _FIRM_VERSION expected;  // from {9, 9, 7}
  };
  const Case cases[] = {
      {"1.02", true, {1, 2, 7}},  // no letter: the revision stays
      {"V1.02A", true, {1, 2, 1}},   {"102", false, {9, 9, 7}},   {"1.02z", true, {1, 2, 26}},
      {"1a2.03", true, {2, 3, 7}},   {"1 .2", true, {0, 2, 7}},   {"1.2.3b", true, {1, 2, 2}},
      {"65537.65536", true, {1, 0, 7}},  // 16-bit fields wrap
  };
  for (const Case& c : cases) {
    _FIRM_VERSION v{9, 9, 7};
    EXPECT_EQ(convertVersionStringToStruct(c.text, &v), c.converted) << c.text;
    EXPECT_EQ(v, c.expected) << c.text;
  }
}

TEST(SystemVersion, FromTheSystemsText) {
  struct Case {
    const char* text;
    SystemVersion expected;
  };
  const Case cases[] = {
      {"Version 10.6.8 (Build 10K549)", {10, 6, 8}},     {"Version 10.11 (Build 15A284)", {10, 11, 0}},
      {"10.6.8", {10, 5, 0}},                            {"", {10, 5, 0}},
      {"Version 10.4.11.7 (Build 8S2167)", {10, 4, 11}}, {"Version 99999999999.1 (Build 1)", {INT32_MAX, 1, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseSystemVersionText(c.text), c.expected) << c.text;
}

TEST(SystemVersion, AtLeastAndReadOnce) {
  struct Case {
    SystemVersion system;
    bool atLeast10_11_0;
  };
  const Case cases[] = {{{10, 6, 8}, false}, {{10, 11, 0}, true}, {{10, 10, 5}, false},
                        {{10, 11, 1}, true}, {{11, 0, 0}, true},  {{9, 12, 0}, false}};
  for (const Case& c : cases) EXPECT_EQ(IsSystemVersionAtLeast(c.system, 10, 11, 0), c.atLeast10_11_0);

  int reads = 0;
  SystemVersionCache cache([&] { return ++reads, std::string("Version 10.6.8 (Build 10K549)"); });
  EXPECT_FALSE(cache.isNewerThisSystemVersion(10, 11, 0));
  EXPECT_TRUE(cache.isNewerThisSystemVersion(10, 6, 8));
  EXPECT_EQ(cache.GetSystemMinorVersion(), 6);
  EXPECT_EQ(reads, 1);
}

TEST(Kext, LocationAndWhetherToInstall) {
  EXPECT_EQ(NewKextPathIn("/T.app/Contents/Resources/", {10, 9, 0}), "/T.app/Contents/Resources/KextV3/KestrelDSSDriver.kext");
  EXPECT_EQ(KextLocationFor({10, 8, 5}).installedFolder, "/System/Library/Extensions");
  EXPECT_EQ(KextLocationFor({10, 9, 0}).installedFolder, "/Library/Extensions");
  EXPECT_EQ(KextLocationFor({11, 0, 0}).sourceFolder, "KextV2");  // only 10.x is known

  struct Case {
    bool installedExists;
    std::optional<std::string_view> carried, installed;
    bool needed;
  };
  const Case cases[] = {
      {true, "1.2", "1.2.0", false},   {true, "1.3", "1.2.9", true},   {true, "1.3", "2.0", false},
      {true, "1.2.1", "1.2", true},    {true, "1.2.0", "1.2", false},  {true, "1.10", "1.9", true},
      {false, std::nullopt, std::nullopt, true}, {true, std::nullopt, "1.0", false}, {true, "1.0", std::nullopt, false},
      {true, "1.b2.3", "1.0.2", true},  // a part without leading digits counts as 0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NeedInstallKextFor(c.installedExists, ParseKextVersion(c.carried), ParseKextVersion(c.installed)),
              c.needed)
        << c.carried.value_or("(none)") << " over " << c.installed.value_or("(none)");
  }
}

}  // namespace
