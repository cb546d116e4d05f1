#pragma once
// The recorder's vendor command set, declared once: every command block byte by byte with its data
// phase, transfer length, time-out and transfer form, and the decoding of every reply. The transports
// (pass-through, the device access service, the Mac driver) only carry these blocks.
//
// Numbers inside command blocks and replies are big-endian; the service's parameter blocks and the
// Mac request words are in host order.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class TargetCode : uint8_t { Main = 0, Sub = 1 };

// The value of the pass-through request's DataIn field.
enum class DataPhase : uint8_t { Out = 0, In = 1, None = 2 };

// Buffered: the data travels in the request's own 256-byte area. Direct: in the caller's buffer.
enum class TransferForm : uint8_t { Buffered, Direct };

struct CommandBlock {
  std::array<uint8_t, 12> cdb{};
  uint8_t cdbLength = 6;
  DataPhase phase = DataPhase::None;
  uint32_t transferLength = 0;
  uint32_t timeoutSeconds = 2;
  TransferForm form = TransferForm::Buffered;

  uint8_t opcode() const { return cdb[0]; }
  uint8_t subcode() const { return cdb[1]; }
};

// The data area of the buffered form, and the largest piece of an image one command carries.
inline constexpr uint32_t kBufferedDataSize = 256;
inline constexpr uint32_t kImagePieceSize = 65536;

namespace cmd {
CommandBlock Inquiry();
CommandBlock GetModelName();
CommandBlock GetDeviceState();
CommandBlock GetFirmwareVersions();
CommandBlock GetDeviceId();
CommandBlock GetStorageSize();
CommandBlock ChangeModeToStorage();
CommandBlock PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target);
CommandBlock GetPrepareRemaining(TargetCode target);
CommandBlock WriteImage(uint32_t byteCount, TargetCode target);
CommandBlock FinishWrite(TargetCode target);
CommandBlock StartVerify(uint32_t startAddress, uint32_t length, TargetCode target);
CommandBlock ReadImage(uint32_t byteCount, TargetCode target);
CommandBlock FinishVerify(TargetCode target);
}  // namespace cmd

// ---- Replies ----
uint16_t BigEndian16(std::span<const uint8_t> bytes);  // 0 when shorter than 2 bytes
uint32_t BigEndian32(std::span<const uint8_t> bytes);
uint64_t BigEndian64(std::span<const uint8_t> bytes);
void PutBigEndian32(uint8_t* out, uint32_t value);

// `count` bytes from `offset` taken as they are, zero bytes included, so the text always has that
// length (missing reply bytes read as zero). Trimming belongs to the callers.
std::string FixedText(std::span<const uint8_t> reply, size_t offset, size_t count);

inline constexpr const char* kRecorderVendor = "KESTREL";
// The inquiry's vendor identification (bytes 8-15) starts with the recorder's vendor, case included.
bool IsRecorderVendor(std::span<const uint8_t> inquiry);

struct FirmwareVersionTexts {
  std::string main;  // reply bytes 0-7
  std::string sub;   // reply bytes 10-17
};
FirmwareVersionTexts DecodeFirmwareVersions(std::span<const uint8_t> reply);

// The model name: reply bytes 0-7, ending at the first zero byte. Some recorders pad the name with
// zero bytes instead of blanks; a zero byte left inside would end every text the name is put into
// right there. Blanks stay: trimming belongs to the callers.
std::string DecodeModelName(std::span<const uint8_t> reply);

// State block byte 6 equal to 3: the recorder must be switched to storage mode first.
bool NeedsStorageMode(std::span<const uint8_t> stateBlock);

// ---- The device access service ----
namespace service {
// Service codes of the calls.
inline constexpr uint32_t kInquiry = 2;
inline constexpr uint32_t kDeviceState = 3;
inline constexpr uint32_t kFirmwareVersions = 5;
inline constexpr uint32_t kChangeMode = 19;
inline constexpr uint32_t kModelName = 20;
inline constexpr uint32_t kDeviceId = 21;
inline constexpr uint32_t kPrepareUpdate = 256;
inline constexpr uint32_t kPrepareReply = 257;
inline constexpr uint32_t kPrepareRemaining = 258;
inline constexpr uint32_t kWriteImage = 259;
inline constexpr uint32_t kFinishWrite = 260;
inline constexpr uint32_t kStartVerify = 261;
inline constexpr uint32_t kReadImage = 262;
inline constexpr uint32_t kFinishVerify = 263;

inline constexpr uint32_t kReplyCapacity = 256;
inline constexpr uint32_t kPrepareReplyCapacity = 32;
inline constexpr uint32_t kWritePieceSize = 8192;

using ParameterBlock = std::array<uint8_t, 32>;
// Start address in bytes 0-3 and length in bytes 4-7, host order.
ParameterBlock AddressLengthBlock(uint32_t startAddress, uint32_t length);
ParameterBlock ZeroBlock();
ParameterBlock ChangeModeBlock();  // byte 0 = 2

// One call of the service: a send carries `block`, a receive asks for at most `capacity` bytes.
struct Call {
  enum class Kind : uint8_t { Send, Receive } kind;
  uint32_t code;
  uint32_t subCode;
  std::vector<uint8_t> block;
  uint32_t capacity = 0;
};

// How the service transport carries an operation. Data pieces of a write are one send each.
std::vector<Call> PrepareUpdateCalls(uint32_t startAddress, uint32_t length, TargetCode target);
std::vector<Call> WriteImageCalls(std::span<const uint8_t> data, TargetCode target);
Call ReceiveCall(uint32_t code, uint32_t subCode, uint32_t capacity);
Call SendCall(uint32_t code, uint32_t subCode, const ParameterBlock& block);

// The reply copy rule: at most capacity - 1 bytes, then a zero byte; returns the bytes copied.
size_t CopyReply(std::span<const uint8_t> reply, std::span<uint8_t> out, uint32_t capacity);
}  // namespace service

// ---- The Mac driver's request ----
namespace mac {
// What the Mac configuration supplies to every E4 command.
struct CommandConfig {
  uint32_t startAddress = 0;
  uint32_t length = 0;
  uint8_t target = 0;
};

enum class Direction : uint32_t { In = 0x80, Out = 0x00, None = 0xFF };

struct Command {
  std::array<uint8_t, 12> cdb{};
  Direction direction = Direction::None;
};

// The 12-byte block for an opcode and sub-code; `length` is the caller's byte count.
Command BuildCommand(uint8_t opcode, uint8_t subcode, uint32_t length, const CommandConfig& config);

inline constexpr uint32_t kSenseLength = 18;
inline constexpr uint32_t kDriverSelector = 2;

// The ten 32-bit words of the driver request, host order.
std::array<uint32_t, 10> RequestWords(const Command& command, uint32_t transferLength, uint32_t bufferAddress,
                                      uint32_t senseAddress);

// The serial query (E0 06): byte 0 counts the decimal digits that follow. A count beyond the reply
// is cut to the reply; a non-digit ends the number.
uint64_t DecodeSerialId(std::span<const uint8_t> reply);

// The Mac receives every identification reply into a zeroed buffer of this size, so a text in it
// always ends, at the latest, at the buffer's end.
inline constexpr size_t kReplyBufferSize = 64;

// The lengths the Mac asks for.
inline constexpr uint32_t kModelNameLength = 8;
inline constexpr uint32_t kDeviceStateLength = 8;
inline constexpr uint32_t kFirmwareVersionsLength = 18;
inline constexpr uint32_t kDeviceIdLength = 4;
inline constexpr uint32_t kSerialLength = 64;
inline constexpr uint32_t kStepCountLength = 2;

// "%8s": blanks on the left up to eight characters; a longer text stays whole.
std::string PadLeft8(std::string_view text);

// The text from `offset` up to the first zero byte, read as the Mac reads it from its zeroed reply
// buffer (bytes past the buffer do not count).
std::string ReplyText(std::span<const uint8_t> reply, size_t offset);

// The model name (E0 00) as the Mac shows it: the zero-ended text, padded on the left to eight.
std::string DecodeModelName(std::span<const uint8_t> reply);

// The firmware version text (E0 02) of one processor: from byte 10 for the sub processor (a nonzero
// target), else from byte 0, ending at the first zero byte, padded on the left to eight.
std::string DecodeFirmwareVersionText(std::span<const uint8_t> reply, uint8_t target);

// A recorder this bundle can update (E0 0B): the 32-bit reply equals the configured device id (16 bits),
// or the second firmware entry accepts its low 16 bits.
bool IsKnownDeviceId(uint32_t reply, uint16_t configuredId, const std::function<bool(uint16_t)>& acceptsSecondEntry);
}  // namespace mac
