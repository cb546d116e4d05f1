#pragma once
// The command layer as the rest of the updater sees it: picks the transport by the user's rights and
// brackets the identification commands with opening and closing the drive.

#include <cstdint>
#include <memory>
#include <string>

#include "common/commands.h"
#include "win/updater/scsi/scsi_command_if.h"

class SendRV2Service;

class CScsiCommand {
 public:
  // Pass-through for administrators, else the device access service when it can be reached.
  CScsiCommand();
  // Mode 1 forces the pass-through (a storage check needs it); any other mode leaves no transport.
  explicit CScsiCommand(int mode);
  virtual ~CScsiCommand();
  CScsiCommand(const CScsiCommand&) = delete;
  CScsiCommand& operator=(const CScsiCommand&) = delete;

  bool Open(uint32_t drive);
  bool Close();
  uint16_t FindDevice(uint32_t deviceId);
  uint16_t CheckDrive(uint32_t drive, uint32_t deviceId);
  bool IsSameDrive(uint32_t a, uint32_t b, uint32_t deviceId);
  bool GetStorageSize(uint32_t drive, uint64_t& size);
  bool GetFirmwareVersions(uint32_t drive, std::string& main, std::string& sub);
  bool GetModelName(uint32_t drive, std::string& model);
  bool GetDeviceState(uint32_t drive, uint8_t* buffer, uint32_t size);
  bool ChangeModeToStorage(uint32_t drive, int value);

  // The update commands: the caller has opened the drive and closes it.
  bool PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps);
  bool GetPrepareRemaining(TargetCode target, uint16_t& remaining);
  bool WriteImage(const uint8_t* data, uint32_t count, TargetCode target);
  bool FinishWrite(TargetCode target);
  bool StartVerify(uint32_t startAddress, uint32_t length, TargetCode target);
  bool ReadImage(uint8_t* buffer, uint32_t count, TargetCode target);
  bool FinishVerify(TargetCode target);

  bool ViaService() const { return viaService_ != 0; }

 private:
  // Opens the drive, runs one command, closes it; fails without closing when the drive did not open.
  template <class Fn>
  bool Bracketed(uint32_t drive, Fn command);

  std::unique_ptr<CScsiCommandIF> transport_;
  std::unique_ptr<SendRV2Service> service_;
  uint32_t viaService_ = 0;
};
