#include "tools/ini_edit.h"

#include <gtest/gtest.h>

namespace {

TEST(SetIniValue, ReplacesAddsAndKeepsTheRest) {
  struct Case {
    const char* what;
    const char* text;
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"replaces in place", "[FIRMWARE]\nLength=1\n[RESOURCE]\nIdBinFirmware=0\nIdBinStringTable=9\n", "RESOURCE",
       "IdBinFirmware", "[FIRMWARE]\r\nLength=1\r\n[RESOURCE]\r\nIdBinFirmware=42\r\nIdBinStringTable=9\r\n"},
      {"names match regardless of case", "[resource]\r\n idbinfirmware = 7\r\n", "RESOURCE", "IdBinFirmware",
       "[resource]\r\nIdBinFirmware=42\r\n"},
      {"same key in another section untouched", "[A]\nIdBinFirmware=1\n[RESOURCE]\nX=2\n\n", "RESOURCE", "IdBinFirmware",
       "[A]\r\nIdBinFirmware=1\r\n[RESOURCE]\r\nX=2\r\nIdBinFirmware=42\r\n\r\n"},
      {"missing section appended", "[FIRMWARE]\nLength=1\n", "RESOURCE", "IdBinFirmware",
       "[FIRMWARE]\r\nLength=1\r\n[RESOURCE]\r\nIdBinFirmware=42\r\n"},
      {"comment not taken for the key", "[RESOURCE]\n;IdBinFirmware=1\n", "RESOURCE", "IdBinFirmware",
       "[RESOURCE]\r\n;IdBinFirmware=1\r\nIdBinFirmware=42\r\n"},
      {"empty text", "", "RESOURCE", "IdBinFirmware", "[RESOURCE]\r\nIdBinFirmware=42\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(SetIniValue(c.text, c.section, c.key, "42"), c.expected) << c.what;
}

TEST(WithLineEndings, EveryLineEndsTheSameWay) {
  EXPECT_EQ(WithLineEndings("a\r\nb\nc", "\r\n"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(WithLineEndings("a\r\nb\r\n", "\n"), "a\nb\n");
}

}  // namespace
