#include "common/commands.h"

#include <algorithm>
#include <cstring>

namespace {

CommandBlock Query(uint8_t subcode, uint8_t allocation) {
  CommandBlock block;
  block.cdb = {0xE0, subcode, 0x00, allocation};
  block.cdbLength = 6;
  block.phase = DataPhase::In;
  block.transferLength = kBufferedDataSize;
  return block;
}

CommandBlock E4(uint8_t subcode, TargetCode target, DataPhase phase, uint32_t transferLength, uint32_t timeout,
                TransferForm form) {
  CommandBlock block;
  block.cdb[0] = 0xE4;
  block.cdb[1] = subcode;
  block.cdb[11] = static_cast<uint8_t>(target);
  block.cdbLength = 12;
  block.phase = phase;
  block.transferLength = transferLength;
  block.timeoutSeconds = timeout;
  block.form = form;
  return block;
}

}  // namespace

void PutBigEndian32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

namespace cmd {
CommandBlock Inquiry() {
  CommandBlock block;
  block.cdb = {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00};
  block.phase = DataPhase::In;
  block.transferLength = kBufferedDataSize;
  return block;
}
CommandBlock GetModelName() { return Query(0x00, 0x08); }
CommandBlock GetDeviceState() { return Query(0x01, 0x08); }
CommandBlock GetFirmwareVersions() { return Query(0x02, 0x12); }
CommandBlock GetDeviceId() { return Query(0x0B, 0x04); }
CommandBlock GetStorageSize() { return Query(0x12, 0x08); }

CommandBlock ChangeModeToStorage() {
  CommandBlock block;
  block.cdb = {0xE2, 0x02};
  block.phase = DataPhase::Out;
  block.transferLength = 0;
  block.form = TransferForm::Direct;
  return block;
}

CommandBlock PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target) {
  CommandBlock block = E4(0x00, target, DataPhase::In, kBufferedDataSize, 2, TransferForm::Buffered);
  PutBigEndian32(&block.cdb[2], startAddress);
  PutBigEndian32(&block.cdb[6], length);
  return block;
}
CommandBlock GetPrepareRemaining(TargetCode target) {
  return E4(0x01, target, DataPhase::In, kBufferedDataSize, 5, TransferForm::Buffered);
}
CommandBlock WriteImage(uint32_t byteCount, TargetCode target) {
  CommandBlock block = E4(0x02, target, DataPhase::Out, byteCount, 2, TransferForm::Direct);
  PutBigEndian32(&block.cdb[2], byteCount);
  return block;
}
CommandBlock FinishWrite(TargetCode target) { return E4(0x03, target, DataPhase::None, 0, 300, TransferForm::Buffered); }
CommandBlock StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) {
  CommandBlock block = E4(0x04, target, DataPhase::None, 0, 2, TransferForm::Buffered);
  PutBigEndian32(&block.cdb[2], startAddress);
  PutBigEndian32(&block.cdb[6], length);
  return block;
}
CommandBlock ReadImage(uint32_t byteCount, TargetCode target) {
  CommandBlock block = E4(0x05, target, DataPhase::In, byteCount, 2, TransferForm::Direct);
  PutBigEndian32(&block.cdb[2], byteCount);
  return block;
}
CommandBlock FinishVerify(TargetCode target) { return E4(0x06, target, DataPhase::None, 0, 20, TransferForm::Buffered); }
}  // namespace cmd

uint16_t BigEndian16(std::span<const uint8_t> b) {
  return b.size() < 2 ? 0 : static_cast<uint16_t>((b[0] << 8) | b[1]);
}
uint32_t BigEndian32(std::span<const uint8_t> b) {
  if (b.size() < 4) return 0;
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) | (static_cast<uint32_t>(b[2]) << 8) | b[3];
}
uint64_t BigEndian64(std::span<const uint8_t> b) {
  if (b.size() < 8) return 0;
  return (static_cast<uint64_t>(BigEndian32(b)) << 32) | BigEndian32(b.subspan(4));
}

std::string FixedText(std::span<const uint8_t> reply, size_t offset, size_t count) {
  std::string text(count, '\0');
  for (size_t i = 0; i < count && offset + i < reply.size(); ++i) text[i] = static_cast<char>(reply[offset + i]);
  return text;
}

bool IsRecorderVendor(std::span<const uint8_t> inquiry) {
  return FixedText(inquiry, 8, 8).compare(0, 7, kRecorderVendor) == 0;
}

FirmwareVersionTexts DecodeFirmwareVersions(std::span<const uint8_t> reply) {
  return {FixedText(reply, 0, 8), FixedText(reply, 10, 8)};
}

std::string DecodeModelName(std::span<const uint8_t> reply) {
  const std::string model = FixedText(reply, 0, 8);
  return model.substr(0, model.find('\0'));
}

bool NeedsStorageMode(std::span<const uint8_t> stateBlock) { return stateBlock.size() > 6 && stateBlock[6] == 3; }

namespace service {
namespace {
void PutHost32(uint8_t* out, uint32_t value) { std::memcpy(out, &value, 4); }
}  // namespace

ParameterBlock AddressLengthBlock(uint32_t startAddress, uint32_t length) {
  ParameterBlock block{};
  PutHost32(&block[0], startAddress);
  PutHost32(&block[4], length);
  return block;
}
ParameterBlock ZeroBlock() { return ParameterBlock{}; }
ParameterBlock ChangeModeBlock() {
  ParameterBlock block{};
  block[0] = 2;
  return block;
}

Call ReceiveCall(uint32_t code, uint32_t subCode, uint32_t capacity) {
  return Call{Call::Kind::Receive, code, subCode, {}, capacity};
}
Call SendCall(uint32_t code, uint32_t subCode, const ParameterBlock& block) {
  return Call{Call::Kind::Send, code, subCode, std::vector<uint8_t>(block.begin(), block.end()), 0};
}

std::vector<Call> PrepareUpdateCalls(uint32_t startAddress, uint32_t length, TargetCode target) {
  const auto t = static_cast<uint32_t>(target);
  return {SendCall(kPrepareUpdate, t, AddressLengthBlock(startAddress, length)),
          ReceiveCall(kPrepareReply, t, kPrepareReplyCapacity)};
}

std::vector<Call> WriteImageCalls(std::span<const uint8_t> data, TargetCode target) {
  std::vector<Call> calls;
  for (size_t offset = 0; offset < data.size(); offset += kWritePieceSize) {
    const size_t n = std::min<size_t>(kWritePieceSize, data.size() - offset);
    calls.push_back(Call{Call::Kind::Send, kWriteImage, static_cast<uint32_t>(target),
                         std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(offset),
                                              data.begin() + static_cast<std::ptrdiff_t>(offset + n)),
                         0});
  }
  return calls;
}

size_t CopyReply(std::span<const uint8_t> reply, std::span<uint8_t> out, uint32_t capacity) {
  if (capacity == 0 || out.empty()) return 0;
  const size_t limit = std::min<size_t>(capacity, out.size()) - 1;
  const size_t n = std::min(reply.size(), limit);
  std::copy_n(reply.begin(), n, out.begin());
  out[n] = 0;
  return n;
}
}  // namespace service

namespace mac {
Command BuildCommand(uint8_t opcode, uint8_t subcode, uint32_t length, const CommandConfig& config) {
  Command command;
  command.cdb[0] = opcode;
  command.cdb[1] = subcode;
  switch (opcode) {
    case 0xE0:
      command.cdb[2] = static_cast<uint8_t>(length >> 8);
      command.cdb[3] = static_cast<uint8_t>(length);
      command.direction = Direction::In;
      break;
    case 0xE1:
    case 0xE2:
    case 0xE3:
      command.cdb[2] = static_cast<uint8_t>(length >> 8);
      command.cdb[3] = static_cast<uint8_t>(length);
      command.direction = Direction::Out;
      break;
    case 0xE4:
      if (subcode == 0 || subcode == 4) {
        PutBigEndian32(&command.cdb[2], config.startAddress);
        PutBigEndian32(&command.cdb[6], config.length);
      } else if (subcode == 2 || subcode == 5) {
        PutBigEndian32(&command.cdb[2], length);
      }
      command.cdb[11] = config.target;
      command.direction = subcode == 2 ? Direction::Out
                          : (subcode == 0 || subcode == 1 || subcode == 5) ? Direction::In
                                                                           : Direction::None;
      break;
    default:
      command.direction = Direction::None;
      break;
  }
  return command;
}

std::array<uint32_t, 10> RequestWords(const Command& command, uint32_t transferLength, uint32_t bufferAddress,
                                      uint32_t senseAddress) {
  std::array<uint32_t, 10> words{};
  words[0] = static_cast<uint32_t>(command.direction);
  words[1] = 12;
  std::memcpy(&words[2], command.cdb.data(), 12);
  words[5] = 0;
  words[6] = transferLength;
  words[7] = bufferAddress;
  words[8] = kSenseLength;
  words[9] = senseAddress;
  return words;
}

uint64_t DecodeSerialId(std::span<const uint8_t> reply) {
  if (reply.empty()) return 0;
  const size_t count = std::min<size_t>(reply[0], reply.size() - 1);
  uint64_t value = 0;
  for (size_t i = 1; i <= count; ++i) {
    if (reply[i] < '0' || reply[i] > '9') break;
    value = value * 10 + (reply[i] - '0');
  }
  return value;
}

std::string PadLeft8(std::string_view text) {
  std::string out(text.size() < 8 ? 8 - text.size() : 0, ' ');
  out.append(text);
  return out;
}

std::string ReplyText(std::span<const uint8_t> reply, size_t offset) {
  const size_t end = std::min(reply.size(), kReplyBufferSize);
  std::string text;
  for (size_t i = offset; i < end && reply[i] != 0; ++i) text.push_back(static_cast<char>(reply[i]));
  return text;
}

std::string DecodeModelName(std::span<const uint8_t> reply) { return PadLeft8(ReplyText(reply, 0)); }

std::string DecodeFirmwareVersionText(std::span<const uint8_t> reply, uint8_t target) {
  return PadLeft8(ReplyText(reply, target != 0 ? 10 : 0));
}

bool IsKnownDeviceId(uint32_t reply, uint16_t configuredId, const std::function<bool(uint16_t)>& acceptsSecondEntry) {
  if (reply == configuredId) return true;
  return acceptsSecondEntry && acceptsSecondEntry(static_cast<uint16_t>(reply));
}
}  // namespace mac
