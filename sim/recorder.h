#pragma once
// The simulated ZT-5100: one model of the device that every transport feeds with raw command blocks,
// as the real recorder receives them. It answers identification, the mode switch, the update and the
// read-back, keeps both processors' flash and versions, and can be made to fail wherever a real
// recorder can: refuse, fail the n-th call of a command, stall, vanish, report too many steps,
// return a corrupted byte, keep its volume.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Commands are named by opcode and sub-code: 0xE402 is the image write. kAnyCommand matches all.
using CommandKey = uint16_t;
inline constexpr CommandKey kAnyCommand = 0xFFFF;
CommandKey KeyOf(std::span<const uint8_t> cdb);
std::string KeyText(CommandKey key);            // "E4 02", "12", "any"
bool ParseKeyText(std::string_view text, CommandKey& key);

enum class FaultKind : uint8_t {
  FailCommand,      // the n-th call of `command` ends with a check condition (once)
  StallCommand,     // the n-th call of `command` never ends within its time-out (once)
  Vanish,           // at the n-th call of `command` the recorder is unplugged and stays away
  RefusePrepare,    // every preparation is refused
  ExtraSteps,       // the n-th poll of the preparation reports `value` steps more than at the start (once)
  CorruptReadback,  // the byte at `value` (from the verify start) reads back inverted (once)
  KeepVolume,       // the volume stays readable after the preparation
  RefuseVerify,     // every start of a verification is refused
};

struct Fault {
  FaultKind kind = FaultKind::FailCommand;
  CommandKey command = kAnyCommand;
  uint32_t nth = 1;
  uint32_t value = 0;
  uint32_t seen = 0;  // calls of `command` since the fault was armed
};

std::string FaultText(const Fault& fault);
// "fail E4 02 3", "stall E4 03", "vanish any 5", "refuse-prepare", "extra-steps 2 4",
// "corrupt-readback 100", "keep-volume", "refuse-verify". Empty result on error, with `error` set.
bool ParseFault(std::string_view text, Fault& fault, std::string& error);

// What a processor reports while its image is incomplete: older than any release, so that every
// updater offers to write it again.
inline constexpr const char* kIncompleteVersion = "0.00";

struct Processor {
  std::string version;         // of the last complete image (at most 8 characters)
  std::vector<uint8_t> flash;  // the processor's program memory
  // From an accepted preparation until a finished write. The preparation erases the region, so an
  // update that stops anywhere before the finish leaves a processor that cannot run what it holds;
  // this survives unplugging, as flash does.
  bool imageComplete = true;

  // The version as the recorder reports it.
  std::string ReportedVersion() const { return imageComplete ? version : kIncompleteVersion; }
};

// How the recorder fills its 8-character model name: with blanks, or with zero bytes as some
// firmware does.
enum class ModelPadding : uint8_t { Blank, Zero };
const char* ModelPaddingText(ModelPadding padding);  // "blank", "zero"
bool ParseModelPadding(std::string_view text, ModelPadding& padding);

struct UpdateSession {
  bool active = false;
  uint8_t target = 0;
  uint32_t start = 0;
  uint32_t length = 0;
  uint16_t steps = 0;
  uint16_t remaining = 0;
  // Pieces go straight into the processor's flash: a write that stops half-way leaves it half-written,
  // as on the real recorder, and only a finished write makes the new version current.
  uint32_t received = 0;
  bool finished = false;
  bool verifying = false;
  uint32_t verifyStart = 0;
  uint32_t verifyLength = 0;
  uint32_t verifyOffset = 0;
};

// What the last finished write brought, for the command-line tool and the tests.
struct LastUpdate {
  bool present = false;
  uint8_t target = 0;
  uint32_t start = 0;
  uint32_t length = 0;
  std::string imageVersion;  // from the image's header; empty when it had none
  bool readBack = false;  // the host read the whole image back and ended the verification
};

enum class Status : uint8_t {
  Good,            // ScsiStatus 0
  CheckCondition,  // ScsiStatus 2: the recorder refused
  TimedOut,        // no answer within the command's time-out
  NoDevice,        // nothing is attached
};

struct Reply {
  Status status = Status::Good;
  uint32_t length = 0;  // data-in bytes placed into the caller's buffer
};

struct Recorder {
  // Identity.
  std::string vendor = "KESTREL";
  std::string product = "ZT-5100 REC";
  std::string model = "ZT-5100";
  ModelPadding modelPadding = ModelPadding::Blank;
  uint32_t deviceId = 40;
  uint64_t storageSize = 1ull << 30;
  uint64_t serial = 51000001;
  uint8_t modeByte = 0;  // state block byte 6; 3 asks for the switch to storage mode
  uint16_t prepareSteps = 5;
  // The counts the preparation polls report, in order, instead of counting down by one.
  std::vector<uint16_t> pollScript;

  Processor main{"1.00", std::vector<uint8_t>(2u << 20)};
  Processor sub{"1.00", std::vector<uint8_t>(32u << 10)};

  // Presence: detached recorders come back at `returnsAtMs` (0: only when plugged in again).
  bool attached = true;
  uint64_t returnsAtMs = 0;
  bool volumeMounted = true;
  uint32_t modeSwitchDelayMs = 1500;
  // A real recorder goes on answering for a moment after the switch command before it leaves; 0
  // leaves at once. `leavesAtMs` is when a switch asked for takes it away (0: none pending).
  uint32_t modeSwitchLingerMs = 0;
  uint64_t leavesAtMs = 0;
  uint32_t restartDelayMs = 1500;
  uint32_t generation = 1;  // counts arrivals, so a watcher sees a leave-and-return it slept through

  UpdateSession session;
  LastUpdate last;
  std::vector<Fault> faults;
  std::vector<std::string> log;  // the most recent commands, oldest first

  Processor& ProcessorFor(uint8_t target) { return target == 1 ? sub : main; }

  // One command block as the recorder receives it. `dataOut` is the data-out phase; the data-in
  // reply lands in `dataIn`, whose size is the transfer length.
  Reply Execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn, uint64_t nowMs);

  // The host let go of the drive: a recorder whose write has finished restarts now.
  void HostReleased(uint64_t nowMs);

  // A recorder that left comes back once its time has come; one told to switch leaves when its
  // lingering is over.
  void Tick(uint64_t nowMs);
  void LeaveForStorageMode(uint64_t atMs);

  void Unplug();
  void Plug();
};

inline constexpr size_t kLogLimit = 256;

}  // namespace sim
