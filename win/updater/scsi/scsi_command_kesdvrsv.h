#pragma once
// The service transport: the same commands, carried by the device access service for users who may
// not open the volume themselves.

#include "win/updater/scsi/scsi_command_if.h"

class CScsiCommandKesDvrSV : public CScsiCommandIF {
 public:
  explicit CScsiCommandKesDvrSV(SendRV2Service* service) { service_ = service; }
  ~CScsiCommandKesDvrSV() override;

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
  bool Send(const service::Call& call);
  // A reply of at most `capacity` - 1 bytes into `buffer`, which has room for `capacity` bytes;
  // `replyLength`, when given, learns how long the whole reply was.
  bool Receive(uint32_t code, uint32_t subCode, uint8_t* buffer, uint32_t capacity, uint32_t* replyLength = nullptr);

  uint32_t device_ = 0;
};
