#include "win/device/pass_through.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

namespace {

// The buffered request as the command layer lays it out: header, filler, sense at 48, data at 80.
struct Buffered {
  SCSI_PASS_THROUGH spt;
  ULONG filler;
  UCHAR sense[32];
  UCHAR data[256];
};
static_assert(offsetof(Buffered, sense) == 48 && offsetof(Buffered, data) == 80, "the 32-bit request layout");

Buffered Inquiry() {
  Buffered b{};
  b.spt.Length = sizeof(SCSI_PASS_THROUGH);
  b.spt.CdbLength = 6;
  b.spt.SenseInfoLength = 24;
  b.spt.DataIn = SCSI_IOCTL_DATA_IN;
  b.spt.DataTransferLength = 256;
  b.spt.TimeOutValue = 2;
  b.spt.DataBufferOffset = offsetof(Buffered, data);
  b.spt.SenseInfoOffset = offsetof(Buffered, sense);
  b.spt.Cdb[0] = 0x12;
  b.spt.Cdb[4] = 0xFF;
  return b;
}

TEST(DecodePassThrough, AcceptsTheBufferedLayout) {
  Buffered b = Inquiry();
  device::PassThroughRequest r;
  ASSERT_TRUE(device::DecodePassThrough(IOCTL_SCSI_PASS_THROUGH, &b, sizeof(SCSI_PASS_THROUGH), &b, 336, r));
  EXPECT_EQ(r.cdb.size(), 6u);
  EXPECT_EQ(r.cdb[0], 0x12);
  EXPECT_EQ(r.dataInArea.data(), b.data);
  EXPECT_EQ(r.dataInArea.size(), 256u);
  EXPECT_EQ(r.sense, b.sense);
  EXPECT_EQ(r.returnedOnSuccess, 336u);
}

TEST(DecodePassThrough, RefusesMalformedRequests) {
  struct Case {
    const char* what;
    std::function<void(Buffered&)> damage;
    DWORD code = IOCTL_SCSI_PASS_THROUGH;
    DWORD inSize = sizeof(SCSI_PASS_THROUGH);
    DWORD outSize = 336;
  };
  const Case cases[] = {
      {"wrong Length", [](Buffered& b) { b.spt.Length = 40; }},
      {"CDB length 7", [](Buffered& b) { b.spt.CdbLength = 7; }},
      {"direction 3", [](Buffered& b) { b.spt.DataIn = 3; }},
      {"data area beyond the output", [](Buffered& b) { b.spt.DataTransferLength = 257; }},
      {"data area inside the header", [](Buffered& b) { b.spt.DataBufferOffset = 8; }},
      {"sense beyond the output", [](Buffered& b) { b.spt.SenseInfoOffset = 330; }},
      {"sense inside the header", [](Buffered& b) { b.spt.SenseInfoOffset = 4; }},
      {"no data but a length", [](Buffered& b) { b.spt.DataIn = SCSI_IOCTL_DATA_UNSPECIFIED; }},
      {"data out not in the input", [](Buffered& b) { b.spt.DataIn = SCSI_IOCTL_DATA_OUT; }},
      {"input shorter than the header", [](Buffered&) {}, IOCTL_SCSI_PASS_THROUGH, 40},
      {"output shorter than the data", [](Buffered&) {}, IOCTL_SCSI_PASS_THROUGH, 44, 300},
      {"another control code", [](Buffered&) {}, 0x2D1400},
      {"a buffered request sent as direct", [](Buffered&) {}, IOCTL_SCSI_PASS_THROUGH_DIRECT, 80, 80},
  };
  for (const Case& c : cases) {
    Buffered b = Inquiry();
    c.damage(b);
    device::PassThroughRequest r;
    EXPECT_FALSE(device::DecodePassThrough(c.code, &b, c.inSize, &b, c.outSize, r)) << c.what;
  }
  Buffered a = Inquiry();
  Buffered other = Inquiry();
  device::PassThroughRequest r;
  EXPECT_FALSE(device::DecodePassThrough(IOCTL_SCSI_PASS_THROUGH, &a, 44, &other, 336, r)) << "two buffers";
}

TEST(DecodePassThrough, DirectFormUsesTheCallersBuffer) {
  struct Direct {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[32];
  } d{};
  static_assert(offsetof(Direct, sense) == 48, "the 32-bit request layout");
  uint8_t image[1000] = {1, 2, 3};
  d.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  d.sptd.CdbLength = 12;
  d.sptd.SenseInfoLength = 24;
  d.sptd.DataIn = SCSI_IOCTL_DATA_OUT;
  d.sptd.DataTransferLength = sizeof image;
  d.sptd.DataBuffer = image;
  d.sptd.SenseInfoOffset = 48;
  d.sptd.Cdb[0] = 0xE4;
  d.sptd.Cdb[1] = 0x02;
  device::PassThroughRequest r;
  ASSERT_TRUE(device::DecodePassThrough(IOCTL_SCSI_PASS_THROUGH_DIRECT, &d, 80, &d, 80, r));
  EXPECT_EQ(r.dataOut.data(), image);
  EXPECT_EQ(r.dataOut.size(), sizeof image);
  EXPECT_EQ(r.cdb.size(), 12u);

  d.sptd.DataBuffer = nullptr;
  EXPECT_FALSE(device::DecodePassThrough(IOCTL_SCSI_PASS_THROUGH_DIRECT, &d, 80, &d, 80, r)) << "no buffer for the data";
  d.sptd.DataTransferLength = 0;
  d.sptd.DataIn = SCSI_IOCTL_DATA_OUT;
  EXPECT_TRUE(device::DecodePassThrough(IOCTL_SCSI_PASS_THROUGH_DIRECT, &d, 80, &d, 80, r)) << "no data at all (E2 02)";
}

}  // namespace
