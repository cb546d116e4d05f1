#pragma once
// The Windows update engine: one RunUpdate brings an image into the recorder on one drive and tells
// a window how it goes by posted messages, so that the window's thread never waits on the recorder.

#include <windows.h>

#include <cstdint>
#include <span>

#include "common/update_sequence.h"
#include "win/updater/scsi/scsi_command.h"

inline constexpr UINT WM_UPDATE_PROGRESS = WM_USER + 100;  // wParam: percentage 0-100
inline constexpr UINT WM_UPDATE_STAGE = WM_USER + 101;     // wParam: UpdateStage
inline constexpr UINT WM_UPDATE_ERROR = WM_USER + 102;     // wParam: UpdateError

// Windows 98 and Me report a vanished removable volume differently, so the check is left out there.
bool ChecksVolumeOn(DWORD majorVersion, DWORD minorVersion);

class CUpdateFirmware {
 public:
  // `notify` may be null: then nothing is posted.
  explicit CUpdateFirmware(HWND notify);
  virtual ~CUpdateFirmware() = default;
  CUpdateFirmware(const CUpdateFirmware&) = delete;
  CUpdateFirmware& operator=(const CUpdateFirmware&) = delete;

  // Nonzero on success. `image` is the whole firmware resource; `length` bytes of it are written.
  BOOL RunUpdate(uint32_t drive, TargetCode target, uint32_t startAddress, uint32_t length,
                 std::span<const uint8_t> image, bool verify, bool centerOnDesktop);
  bool ViaService() const { return Command.ViaService(); }

 private:
  bool CheckVolume;
  CScsiCommand Command;
  HWND Notify;
};
