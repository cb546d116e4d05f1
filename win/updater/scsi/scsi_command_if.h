#pragma once
// The recorder's command layer: one interface, two transports (pass-through on the volume, or the
// device access service for users without administrator rights). Drive look-up and the system-wide
// device lock are shared by both.

#include <windows.h>

#include <span>

#include <cstdint>
#include <string>

#include "common/commands.h"
#include "win/framework/handles.h"

class SendRV2Service;

inline constexpr uint16_t NotFound = 0xFFFF;

class CScsiCommandIF {
 public:
  virtual ~CScsiCommandIF() = default;

  virtual bool Open(uint32_t drive) = 0;
  virtual bool Close() = 0;
  // The first removable drive from C: on that holds a recorder of this device id, or NotFound.
  virtual uint16_t FindDevice(uint32_t deviceId);
  // The drive when it holds a recorder of this device id, else NotFound. Opens and closes the drive.
  virtual uint16_t CheckDrive(uint32_t drive, uint32_t deviceId);
  virtual bool IsSameDrive(uint32_t a, uint32_t b, uint32_t deviceId);
  virtual bool Inquiry(uint8_t (&inquiry)[32]) = 0;
  virtual bool GetDeviceId(uint32_t& deviceId) = 0;
  virtual bool GetFirmwareVersions(std::string& main, std::string& sub) = 0;
  virtual bool GetModelName(std::string& model) = 0;
  virtual bool GetStorageSize(uint64_t& size) = 0;
  virtual bool PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) = 0;
  virtual bool GetPrepareRemaining(TargetCode target, uint16_t& remaining) = 0;
  virtual bool WriteImage(const uint8_t* data, uint32_t count, TargetCode target) = 0;
  virtual bool FinishWrite(TargetCode target) = 0;
  virtual bool StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) = 0;
  // `buffer` has room for `count` + 1 bytes.
  virtual bool ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) = 0;
  virtual bool FinishVerify(TargetCode target) = 0;
  virtual bool ChangeModeToStorage(int value) = 0;
  virtual bool GetDeviceState(uint8_t* buffer, uint32_t size) = 0;

  // "\\.\X:" for drive index n (0 = A:).
  static std::string DevicePath(uint32_t drive);

 protected:
  // The lock is held by whoever created "RV1_API_MUTEX"; it is never waited on, only retried for
  // about ten seconds.
  bool AcquireApiLock();
  void ReleaseApiLock();

  SendRV2Service* service_ = nullptr;

 private:
  win::ScopedHandle apiLock_;
};

// One group of an access token, as far as the administrator question needs it.
struct TokenGroupView {
  bool administrators = false;  // the well-known Administrators group
  DWORD attributes = 0;         // SE_GROUP_* flags
};
// Only an enabled membership gives administrator rights. A token of an administrator started
// without elevation carries the group for deny checks only: pass-through would fail there, while
// the device access service works.
bool IsEnabledAdministrator(std::span<const TokenGroupView> groups);

// Whether the process runs with the Administrators group enabled.
bool IsUserAdmin();
