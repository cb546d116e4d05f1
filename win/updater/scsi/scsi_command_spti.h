#pragma once
// The pass-through transport: the command blocks go to the volume with DeviceIoControl.

#include "win/updater/scsi/scsi_command_if.h"

class CScsiCommandSpti : public CScsiCommandIF {
 public:
  CScsiCommandSpti() = default;
  ~CScsiCommandSpti() override;

  bool Open(uint32_t drive) override;
  bool Close() override;
  bool Inquiry(uint8_t (&inquiry)[32]) override;
  bool GetDeviceId(uint32_t& deviceId) override;
  bool GetFirmwareVersions(std::string& main, std::string& sub) override;
  bool GetModelName(std::string& model) override;
  bool GetStorageSize(uint64_t& size) override;
  bool PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) override;
  bool GetPrepareRemaining(TargetCode target, uint16_t& remaining) override;
  bool WriteImage(const uint8_t* data, uint32_t count, TargetCode target) override;
  bool FinishWrite(TargetCode target) override;
  bool StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) override;
  bool ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) override;
  bool FinishVerify(TargetCode target) override;
  bool ChangeModeToStorage(int value) override;
  bool GetDeviceState(uint8_t* buffer, uint32_t size) override;

 private:
  // A buffered command: its reply (the whole 256-byte data area) lands in `reply` when given.
  bool Buffered(const CommandBlock& block, uint8_t* reply = nullptr);
  // A direct command: the data moves between the device and the caller's buffer.
  bool Direct(const CommandBlock& block, void* data);

  HANDLE volume_ = INVALID_HANDLE_VALUE;
};
