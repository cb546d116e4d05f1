#include "common/payload.h"

#include <gtest/gtest.h>

namespace {

// Resource sizes of a sound bundle: table, three pictures, two libraries.
BundleSizes SoundBundle() {
  BundleSizes sizes;
  sizes.firmware = {31744};
  const uint32_t items[] = {31084, 15706, 14781, 10424, 389120, 45056};
  std::copy(std::begin(items), std::end(items), sizes.items);
  return sizes;
}

TEST(CheckBundleSizes, MismatchesAccumulateByItem) {
  struct Case {
    const char* what;
    void (*damage)(BundleSizes& declared, BundleSizes& actual);
    PayloadError expected;
  };
  const Case cases[] = {
      {"sound", [](BundleSizes&, BundleSizes&) {}, 0},
      {"second picture one byte off", [](BundleSizes& d, BundleSizes&) { d.items[2] += 1; }, 0x00010010},
      {"firmware and table off",
       [](BundleSizes& d, BundleSizes&) {
         d.firmware[0] -= 1;
         d.items[0] += 1;
       },
       0x00010006},
      {"no firmware key", [](BundleSizes& d, BundleSizes&) { d.firmware.clear(); }, 0x00010002},
      {"no firmware key and every size off",
       [](BundleSizes& d, BundleSizes&) {
         d.firmware.clear();
         for (auto& s : d.items) s += 1;
       },
       0x000100FE},
      {"second image declared, resource missing",
       [](BundleSizes& d, BundleSizes&) { d.firmware.push_back(100); }, 0x00010002},
      {"autoplay library missing and undeclared",
       [](BundleSizes& d, BundleSizes& a) { d.items[5] = a.items[5] = 0; }, 0},
      {"library resource missing", [](BundleSizes&, BundleSizes& a) { a.items[4] = 0; }, 0x00010040},
  };
  for (const Case& c : cases) {
    BundleSizes declared = SoundBundle();
    BundleSizes actual = SoundBundle();
    c.damage(declared, actual);
    EXPECT_EQ(CheckBundleSizes(declared, actual), c.expected) << c.what;
  }
}

TEST(CheckWrapperSizes, MismatchesAccumulateByItem) {
  const WrapperSizes sound{{29344, 15706, 14781, 389120, 139264, 962560, 2502656}};
  struct Case {
    const char* what;
    size_t damaged[2];
    size_t count;
    PayloadError expected;
  };
  const Case cases[] = {
      {"library off", {3}, 1, 0x00010040},       {"autoplay library off", {4}, 1, 0x00010040},
      {"stage 2 off", {6}, 1, 0x00010040},        {"table off", {0}, 1, 0x00010004},
      {"first picture off", {1}, 1, 0x00010008}, {"second picture off", {2}, 1, 0x00010010},
      {"table and first picture", {0, 1}, 2, 0x0001000C},
  };
  for (const Case& c : cases) {
    WrapperSizes declared = sound;
    for (size_t i = 0; i < c.count; ++i) declared.items[c.damaged[i]] += 1;
    EXPECT_EQ(CheckWrapperSizes(declared, sound), c.expected) << c.what;
  }
  EXPECT_EQ(CheckWrapperSizes(WrapperSizes{}, sound), 0x0001005Cu) << "no RESOURCE section";
}

TEST(PayloadItems, FirmwareKeysAndErrorCodes) {
  EXPECT_EQ(bundle::FirmwareSizeKey(0), "IdBinFirmware");
  EXPECT_EQ(bundle::FirmwareSizeKey(1), "IdBinFirmware2");
  EXPECT_EQ(bundle::FirmwareSizeKey(9), "IdBinFirmware10");
  EXPECT_EQ(kTempFolderUnknown, 0x00010000u);
  EXPECT_EQ(MakePayloadError(PayloadFailure::NotLocked, bundle::kGlossaryTable.itemBit), 0x00020004u);
  EXPECT_EQ(MakePayloadError(PayloadFailure::WrittenShort, bundle::kAutoplayLibrary.itemBit), 0x00080080u);
  EXPECT_EQ(MakePayloadError(PayloadFailure::NotCreated, bundle::kConfiguration.itemBit), 0x00040001u);
}

}  // namespace
