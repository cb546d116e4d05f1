#include "sim/sim_commands.h"

namespace sim {

CommandBlock SimUpdateCommands::ForPlatform(CommandBlock block, uint32_t callerLength) const {
  if (platform_ == Platform::Windows) return block;
  const mac::Command command = mac::BuildCommand(block.opcode(), block.subcode(), callerLength, macConfig_);
  block.cdb = command.cdb;
  block.cdbLength = 12;
  // The Mac reads the preparation replies as 2 bytes.
  if (block.opcode() == 0xE4 && (block.subcode() == 0x00 || block.subcode() == 0x01)) block.transferLength = 2;
  return block;
}

bool SimUpdateCommands::Send(const CommandBlock& block, std::span<const uint8_t> out, uint8_t* in) {
  const std::span<uint8_t> dataIn = block.phase == DataPhase::In && in ? std::span(in, block.transferLength) : std::span<uint8_t>();
  return link_.Execute(std::span(block.cdb.data(), block.cdbLength), out, dataIn).status == Status::Good;
}

bool SimUpdateCommands::Open(uint32_t) {
  open_ = link_.Attached();
  return open_;
}

bool SimUpdateCommands::Close() {
  if (open_) link_.Released();
  open_ = false;
  return true;
}

bool SimUpdateCommands::PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) {
  uint8_t reply[kBufferedDataSize] = {};
  if (!Send(ForPlatform(cmd::PrepareUpdate(startAddress, length, target), 2), {}, reply)) return false;
  steps = BigEndian16(reply);
  return true;
}

bool SimUpdateCommands::GetPrepareRemaining(TargetCode target, uint16_t& remaining) {
  uint8_t reply[kBufferedDataSize] = {};
  if (!Send(ForPlatform(cmd::GetPrepareRemaining(target), 2), {}, reply)) return false;
  remaining = BigEndian16(reply);
  return true;
}

bool SimUpdateCommands::WriteImage(const uint8_t* data, uint32_t count, TargetCode target) {
  return Send(ForPlatform(cmd::WriteImage(count, target), count), std::span(data, count));
}

bool SimUpdateCommands::FinishWrite(TargetCode target) { return Send(ForPlatform(cmd::FinishWrite(target), 0)); }

bool SimUpdateCommands::StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) {
  return Send(ForPlatform(cmd::StartVerify(startAddress, length, target), 0));
}

bool SimUpdateCommands::ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) {
  return Send(ForPlatform(cmd::ReadImage(count, target), count), {}, buffer);
}

bool SimUpdateCommands::FinishVerify(TargetCode target) {
  return Send(ForPlatform(cmd::FinishVerify(target), 0));
}

}  // namespace sim
