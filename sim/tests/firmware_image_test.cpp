#include "sim/firmware_image.h"

#include <gtest/gtest.h>

namespace {

TEST(FirmwareImage, HeaderRoundTripsAndBodyIsStable) {
  const sim::FirmwareImageHeader written{1, "1.01", "ZT-5100", 0, 0};
  const auto image = sim::MakeFirmwareImage(written, 31744);
  ASSERT_EQ(image.size(), 31744u);
  EXPECT_EQ(image, sim::MakeFirmwareImage(written, 31744));

  const auto header = sim::ReadFirmwareImageHeader(image);
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->target, 1);
  EXPECT_EQ(header->version, "1.01");
  EXPECT_EQ(header->model, "ZT-5100");
  EXPECT_EQ(header->length, 31744u);
  EXPECT_EQ(header->bodyHash, sim::Fnv1a(std::span(image).subspan(sim::kFirmwareHeaderSize)));

  // Another version gives another body: a recorder holding the old image cannot pass a read-back.
  EXPECT_NE(sim::MakeFirmwareImage({1, "1.02", "ZT-5100", 0, 0}, 31744), image);
}

TEST(FirmwareImage, RefusesDamagedHeaders) {
  const auto image = sim::MakeFirmwareImage({0, "1.01", "ZT-5100", 0, 0}, 4096);
  struct Case {
    const char* what;
    size_t offset;
    uint8_t value;
  };
  const Case cases[] = {{"magic", 0, 'X'}, {"target", 4, 2}, {"header version", 5, 9}, {"header size", 6, 31},
                        {"length beyond the data", 18, 0x10}};
  for (const Case& c : cases) {
    auto damaged = image;
    damaged[c.offset] = c.value;
    EXPECT_FALSE(sim::ReadFirmwareImageHeader(damaged).has_value()) << c.what;
  }
  EXPECT_FALSE(sim::ReadFirmwareImageHeader(std::span(image).first(31)).has_value());
  EXPECT_FALSE(sim::ReadFirmwareImageHeader(std::span(image).first(4095)).has_value());
}

}  // namespace
