#include "common/commands.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct BlockCase {
  const char* name;
  CommandBlock block;
  std::vector<uint8_t> cdb;
  DataPhase phase;
  uint32_t transfer;
  uint32_t timeout;
  TransferForm form;
};

TEST(CommandBlocks, EveryOperationByteByByte) {
  using enum DataPhase;
  using enum TransferForm;
  const TargetCode sub = TargetCode::Sub;
  const BlockCase cases[] = {
      {"Inquiry", cmd::Inquiry(), {0x12, 0, 0, 0, 0xFF, 0}, In, 256, 2, Buffered},
      {"GetModelName", cmd::GetModelName(), {0xE0, 0x00, 0, 0x08, 0, 0}, In, 256, 2, Buffered},
      {"GetDeviceState", cmd::GetDeviceState(), {0xE0, 0x01, 0, 0x08, 0, 0}, In, 256, 2, Buffered},
      {"GetFirmwareVersions", cmd::GetFirmwareVersions(), {0xE0, 0x02, 0, 0x12, 0, 0}, In, 256, 2, Buffered},
      {"GetDeviceId", cmd::GetDeviceId(), {0xE0, 0x0B, 0, 0x04, 0, 0}, In, 256, 2, Buffered},
      {"GetStorageSize", cmd::GetStorageSize(), {0xE0, 0x12, 0, 0x08, 0, 0}, In, 256, 2, Buffered},
      {"ChangeModeToStorage", cmd::ChangeModeToStorage(), {0xE2, 0x02, 0, 0, 0, 0}, Out, 0, 2, Direct},
      {"PrepareUpdate", cmd::PrepareUpdate(0x00080000, 0x00180000, TargetCode::Main),
       {0xE4, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00}, In, 256, 2, Buffered},
      {"PrepareUpdate sub", cmd::PrepareUpdate(1024, 31744, sub),
       {0xE4, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x7C, 0x00, 0x00, 0x01}, In, 256, 2, Buffered},
      {"GetPrepareRemaining", cmd::GetPrepareRemaining(sub), {0xE4, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, In, 256, 5, Buffered},
      {"WriteImage", cmd::WriteImage(65536, sub), {0xE4, 0x02, 0x00, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0, 1}, Out, 65536, 2, Direct},
      {"FinishWrite", cmd::FinishWrite(sub), {0xE4, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, None, 0, 300, Buffered},
      {"StartVerify", cmd::StartVerify(0x01020304, 0xA0B0C0D0, TargetCode::Main),
       {0xE4, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0}, None, 0, 2, Buffered},
      {"ReadImage", cmd::ReadImage(1, TargetCode::Main), {0xE4, 0x05, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, In, 1, 2, Direct},
      {"FinishVerify", cmd::FinishVerify(TargetCode::Main), {0xE4, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, None, 0, 20, Buffered},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.block.cdbLength, c.cdb.size());
    EXPECT_TRUE(std::equal(c.cdb.begin(), c.cdb.end(), c.block.cdb.begin()));
    EXPECT_TRUE(std::all_of(c.block.cdb.begin() + c.block.cdbLength, c.block.cdb.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(c.block.phase, c.phase);
    EXPECT_EQ(c.block.transferLength, c.transfer);
    EXPECT_EQ(c.block.timeoutSeconds, c.timeout);
    EXPECT_EQ(c.block.form, c.form);
  }
}

TEST(Replies, DecodedAsTheRecorderSendsThem) {
  std::vector<uint8_t> inquiry(36, 0);
  std::memcpy(&inquiry[8], "KESTRELX", 8);
  EXPECT_TRUE(IsRecorderVendor(inquiry));
  std::memcpy(&inquiry[8], "kestrel ", 8);
  EXPECT_FALSE(IsRecorderVendor(inquiry));
  EXPECT_FALSE(IsRecorderVendor(std::vector<uint8_t>(10, 0)));

  const uint8_t versions[18] = {'1', '.', '0', '1', 0, 0, 0, 0, 0xAA, 0xBB, '1', '.', '0', '2', 'a', ' ', ' ', ' '};
  const FirmwareVersionTexts texts = DecodeFirmwareVersions(versions);
  EXPECT_EQ(texts.main, std::string("1.01\0\0\0\0", 8));  // always 8 characters, zero bytes included
  EXPECT_EQ(texts.sub, "1.02a   ");
  EXPECT_EQ(DecodeFirmwareVersions(std::span(versions, 12)).sub, std::string("1.\0\0\0\0\0\0", 8));

  const uint8_t be[8] = {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(BigEndian64(be), 0x100000000ull);
  EXPECT_EQ(BigEndian32(be), 1u);
  EXPECT_EQ(BigEndian16(std::span(be + 2, 2)), 1u);
  EXPECT_EQ(BigEndian32(std::span(be, 3)), 0u);

  uint8_t state[8] = {};
  EXPECT_FALSE(NeedsStorageMode(state));
  state[6] = 3;
  EXPECT_TRUE(NeedsStorageMode(state));
}

TEST(Replies, ModelNameEndsAtItsFirstZeroByte) {
  const struct {
    const char* name;
    std::string reply;  // as many bytes as the recorder sends; the rest of the buffer is filler
    std::string model;
  } cases[] = {
      {"blank padding", "ZT-5100 ", "ZT-5100 "},
      {"zero padding", std::string("ZT-5100\0", 8), "ZT-5100"},
      {"zero in the middle", std::string("ZT\0-5100", 8), "ZT"},
      {"no padding", "ZT-5100B", "ZT-5100B"},
      {"all zeros", std::string(8, '\0'), ""},
      {"leading zero", std::string("\0ZT-5100", 8), ""},
      {"bytes past the eighth are not the name", "ZT-5100BXYZ", "ZT-5100B"},
      {"short reply", "ZT", "ZT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> reply(c.reply.begin(), c.reply.end());
    EXPECT_EQ(DecodeModelName(reply), c.model);
  }
}

TEST(ServiceCalls, BlocksInHostOrderAndPieces) {
  const auto block = service::AddressLengthBlock(0x00080000, 31744);
  const uint8_t expected[8] = {0x00, 0x00, 0x08, 0x00, 0x00, 0x7C, 0x00, 0x00};
  EXPECT_TRUE(std::equal(expected, expected + 8, block.begin()));
  EXPECT_EQ(service::ChangeModeBlock()[0], 2);

  const auto prepare = service::PrepareUpdateCalls(1024, 31744, TargetCode::Sub);
  ASSERT_EQ(prepare.size(), 2u);
  EXPECT_EQ(prepare[0].code, 256u);
  EXPECT_EQ(prepare[0].subCode, 1u);
  EXPECT_EQ(prepare[0].block.size(), 32u);
  EXPECT_EQ(prepare[1].code, 257u);
  EXPECT_EQ(prepare[1].capacity, 32u);

  const std::vector<uint8_t> data(8192 * 2 + 1, 7);
  const auto writes = service::WriteImageCalls(data, TargetCode::Main);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].block.size(), 8192u);
  EXPECT_EQ(writes[2].block.size(), 1u);
  EXPECT_EQ(writes[2].code, 259u);
}

TEST(ServiceCalls, ReplyCopyKeepsRoomForTheZeroByte) {
  struct Case {
    size_t reply, out;
    uint32_t capacity;
    size_t copied;
  };
  const Case cases[] = {{10, 256, 256, 10}, {300, 256, 256, 255}, {5, 4, 256, 3}, {5, 256, 1, 0}, {5, 256, 0, 0}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> reply(c.reply, 0x41);
    std::vector<uint8_t> out(c.out, 0xFF);
    EXPECT_EQ(service::CopyReply(reply, out, c.capacity), c.copied);
    if (c.capacity > 0) {
      EXPECT_EQ(out[c.copied], 0);
    }
  }
}

TEST(MacRequest, BlocksTakeE4AddressAndLengthFromTheConfiguration) {
  const mac::CommandConfig config{524288, 1572864, 0};
  struct Case {
    uint8_t op, sub;
    uint32_t length;
    std::vector<uint8_t> cdb;
    mac::Direction direction;
  };
  using enum mac::Direction;
  const Case cases[] = {
      {0xE0, 0x0B, 4, {0xE0, 0x0B, 0x00, 0x04}, In},
      {0xE0, 0x06, 64, {0xE0, 0x06, 0x00, 0x40}, In},
      {0xE2, 0x02, 0, {0xE2, 0x02}, Out},
      {0xE4, 0x00, 2, {0xE4, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00}, In},
      {0xE4, 0x01, 2, {0xE4, 0x01}, In},
      {0xE4, 0x02, 65536, {0xE4, 0x02, 0x00, 0x01, 0x00, 0x00}, Out},
      {0xE4, 0x03, 0, {0xE4, 0x03}, None},
      {0xE4, 0x04, 99, {0xE4, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00}, None},
      {0xE4, 0x05, 300, {0xE4, 0x05, 0x00, 0x00, 0x01, 0x2C}, In},
      {0xE4, 0x06, 0, {0xE4, 0x06}, None},
      {0x12, 0x00, 36, {0x12}, None},
  };
  for (const Case& c : cases) {
    const mac::Command command = mac::BuildCommand(c.op, c.sub, c.length, config);
    std::array<uint8_t, 12> expected{};
    std::copy(c.cdb.begin(), c.cdb.end(), expected.begin());
    EXPECT_EQ(command.cdb, expected) << std::hex << int(c.op) << " " << int(c.sub);
    EXPECT_EQ(command.direction, c.direction) << std::hex << int(c.op) << " " << int(c.sub);
  }
  const mac::Command sub = mac::BuildCommand(0xE4, 0x03, 0, mac::CommandConfig{0, 0, 1});
  EXPECT_EQ(sub.cdb[11], 1);

  const auto words = mac::RequestWords(mac::BuildCommand(0xE4, 0x05, 300, config), 300, 0x1000, 0x2000);
  EXPECT_EQ(words[0], 0x80u);
  EXPECT_EQ(words[1], 12u);
  uint8_t laidOut[12];
  std::memcpy(laidOut, &words[2], 12);
  EXPECT_EQ(laidOut[0], 0xE4);
  EXPECT_EQ(laidOut[5], 0x2C);
  EXPECT_EQ(words[5], 0u);
  EXPECT_EQ(words[6], 300u);
  EXPECT_EQ(words[7], 0x1000u);
  EXPECT_EQ(words[8], 18u);
  EXPECT_EQ(words[9], 0x2000u);
}

TEST(MacRequest, SerialDigitsBoundedByTheReply) {
  struct Case {
    std::vector<uint8_t> reply;
    uint64_t serial;
  };
  const Case cases[] = {
      {{3, '1', '2', '3', '9'}, 123},
      {{0, '1'}, 0},
      {{250, '4', '2'}, 42},  // a count beyond the reply reads only what is there
      {{3, '1', 'x', '3'}, 1},
      {{}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(mac::DecodeSerialId(c.reply), c.serial);
}

TEST(MacReplies, ModelNameEndsAtTheFirstZeroAndIsPaddedOnTheLeft) {
  struct Case {
    const char* name;
    std::vector<uint8_t> reply;
    std::string shown;
  };
  const Case cases[] = {
      {"blank-padded by the recorder", {'Z', 'T', '-', '5', '1', '0', '0', ' '}, "ZT-5100 "},
      {"zero-padded", {'Z', 'T', '5', 0, 0, 0, 0, 0}, "     ZT5"},
      {"zero in the middle", {'A', 0, 'B', 'C'}, "       A"},
      {"empty reply", {}, "        "},
      {"first byte zero", {0, 'Z', 'T'}, "        "},
      // No zero within the buffer: the text ends with the buffer, never past it.
      {"fills the buffer", std::vector<uint8_t>(80, 'M'), std::string(64, 'M')},
      {"exactly eight", {'1', '2', '3', '4', '5', '6', '7', '8', 0}, "12345678"},
      {"nine", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, "123456789"},
  };
  for (const Case& c : cases) EXPECT_EQ(mac::DecodeModelName(c.reply), c.shown) << c.name;
}

TEST(MacReplies, VersionTextOfTheConfiguredProcessor) {
  const std::vector<uint8_t> reply = {'1', '.', '0', '1', 0, 0, 0, 0, 0xAA, 0xBB, '2', '.', '0', '3', 'A', 0, 0, 0};
  struct Case {
    std::vector<uint8_t> reply;
    uint8_t target;
    std::string text;
  };
  const Case cases[] = {
      {reply, 0, "    1.01"},
      {reply, 1, "   2.03A"},
      {reply, 7, "   2.03A"},  // any nonzero target reads the sub processor's text
      {std::vector<uint8_t>(reply.begin(), reply.begin() + 10), 1, "        "},
      {{'V', '1', '.', '0', '0', ' ', ' ', ' ', 0}, 0, "V1.00   "},
      {{'1', '.', '0', '0', '0', '0', '0', '0', '9', '9', 0}, 0, "1.00000099"},  // no zero before byte 10
  };
  for (const Case& c : cases) EXPECT_EQ(mac::DecodeFirmwareVersionText(c.reply, c.target), c.text);
}

TEST(MacReplies, DeviceIdOfThisBundleOrItsSecondEntry) {
  const auto second = [](uint16_t id) { return id == 41; };
  struct Case {
    uint32_t reply;
    bool secondEntry;
    bool known;
  };
  const Case cases[] = {
      {40, false, true},       {41, false, false}, {41, true, true},  {0x10028, true, false},
      {0x10029, true, true},  // the second entry looks at the low 16 bits only
      {0x10028, false, false}, {0, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mac::IsKnownDeviceId(c.reply, 40, c.secondEntry ? second : std::function<bool(uint16_t)>()), c.known)
        << std::hex << c.reply;
  }
}

TEST(MacReplies, PadLeft8) {
  EXPECT_EQ(mac::PadLeft8(""), "        ");
  EXPECT_EQ(mac::PadLeft8("1234567"), " 1234567");
  EXPECT_EQ(mac::PadLeft8("12345678"), "12345678");
  EXPECT_EQ(mac::PadLeft8("123456789"), "123456789");
}

}  // namespace
