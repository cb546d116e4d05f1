#include "win/updater/app/hid_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

TEST(KnownRecorderTable, HoldsTheProductsInOrderAndEndsWithTheMarker) {
  const std::array<uint16_t, 9> expected = {0x0253, 0x0254, 0x0255, 0x0256, 0x026A,
                                            0x026B, 0x026C, 0x026D, 0xFFFF};
  EXPECT_EQ(kKnownRecorderProductIds, expected);
  EXPECT_EQ(kKnownRecorderVendorId, 0x0C2F);
}

struct IdentityCase {
  uint16_t vendor;
  uint16_t product;
  bool known;
};

TEST(IsKnownRecorderIdentity, VendorAndProductMustBothFit) {
  const IdentityCase cases[] = {
      {0x0C2F, 0x0253, true},  {0x0C2F, 0x0254, true},  {0x0C2F, 0x0255, true},  {0x0C2F, 0x0256, true},
      {0x0C2F, 0x026A, true},  {0x0C2F, 0x026B, true},  {0x0C2F, 0x026C, true},  {0x0C2F, 0x026D, true},
      // Neighbours of the ranges, the end marker, and the right products of another vendor.
      {0x0C2F, 0x0252, false}, {0x0C2F, 0x0257, false}, {0x0C2F, 0x0269, false}, {0x0C2F, 0x026E, false},
      {0x0C2F, 0xFFFF, false}, {0x0C2F, 0x0000, false}, {0x0C2E, 0x0253, false}, {0x2F0C, 0x0253, false},
      {0x0000, 0x0000, false}, {0xFFFF, 0xFFFF, false},
  };
  for (const IdentityCase& c : cases) {
    EXPECT_EQ(IsKnownRecorderIdentity(c.vendor, c.product), c.known)
        << std::hex << c.vendor << ":" << c.product;
  }
}

struct InstanceIdCase {
  const char* instanceId;
  bool known;
};

TEST(InstanceIdNamesKnownRecorder, LooksForTheHexTextsAsSubstrings) {
  const InstanceIdCase cases[] = {
      {"USB\\VID_0C2F&PID_0253\\5&2A1B0F3&0&1", true},
      {"USB\\VID_0C2F&PID_026D\\0123456789", true},
      {"USB\\VID_0C2F&PID_026A&MI_00\\6&1F&0&0000", true},
      // Other products of the maker, and the end marker, are not recorders of a known kind.
      {"USB\\VID_0C2F&PID_0257\\5&2A1B0F3&0&1", false},
      {"USB\\VID_0C2F&PID_FFFF\\5&2A1B0F3&0&1", false},
      {"USB\\VID_0C2F&PID_0100\\5&0&0&1", false},
      // Another vendor with a known product number.
      {"USB\\VID_046D&PID_0253\\5&0&0&1", false},
      // "%X" gives capitals; the texts are compared exactly.
      {"USB\\VID_0c2f&PID_0253\\5&0&0&1", false},
      {"USB\\VID_0C2F&PID_026a\\5&0&0&1", false},
      // The texts may stand anywhere, even inside the serial part.
      {"USB\\VID_0C2F&PID_0999\\SERIAL0253", true},
      {"USB\\ROOT_HUB20\\4&C2F253&0", true},
      {"C2F", false},
      {"253", false},
      {"", false},
  };
  for (const InstanceIdCase& c : cases) {
    EXPECT_EQ(InstanceIdNamesKnownRecorder(c.instanceId), c.known) << c.instanceId;
  }
}

TEST(HidModeReport, IsReportZeroWithTheModeChangeAndZeroPadding) {
  const auto report = HidModeReport();
  ASSERT_EQ(report.size(), 65u);
  EXPECT_EQ(report[0], 0x00);
  EXPECT_EQ(report[1], 0xE2);
  EXPECT_EQ(report[2], 0x02);
  EXPECT_TRUE(std::all_of(report.begin() + 3, report.end(), [](uint8_t b) { return b == 0; }));
}

}  // namespace
