#pragma once
// The update operations over a link to the simulated recorder, with the command blocks each platform
// really sends: the Windows pass-through blocks, or the Mac driver's 12-byte blocks whose E4 start
// address and length come from the configuration and whose E4 00/01 replies are 2 bytes long.

#include <memory>

#include "common/update_sequence.h"
#include "sim/link.h"

namespace sim {

class SimUpdateCommands : public UpdateCommands {
 public:
  enum class Platform { Windows, Mac };
  SimUpdateCommands(RecorderLink& link, Platform platform, mac::CommandConfig macConfig = {})
      : link_(link), platform_(platform), macConfig_(macConfig) {}

  bool Open(uint32_t drive) override;
  bool Close() override;
  bool PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) override;
  bool GetPrepareRemaining(TargetCode target, uint16_t& remaining) override;
  bool WriteImage(const uint8_t* data, uint32_t count, TargetCode target) override;
  bool FinishWrite(TargetCode target) override;
  bool StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) override;
  bool ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) override;
  bool FinishVerify(TargetCode target) override;

  bool isOpen() const { return open_; }

 private:
  // Sends one block; data-in bytes land in `in`, which has room for the block's transfer length.
  bool Send(const CommandBlock& block, std::span<const uint8_t> out = {}, uint8_t* in = nullptr);
  CommandBlock ForPlatform(CommandBlock block, uint32_t callerLength) const;

  RecorderLink& link_;
  Platform platform_;
  mac::CommandConfig macConfig_;
  bool open_ = false;
};

}  // namespace sim
