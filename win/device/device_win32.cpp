#include "win/device/device_io.h"

namespace device {

DWORD LogicalDrives() { return GetLogicalDrives(); }
UINT DriveType(const char* rootPath) { return GetDriveTypeA(rootPath); }

HANDLE OpenVolume(const char* devicePath) {
  return CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     0, nullptr);
}

void CloseVolume(HANDLE volume) { CloseHandle(volume); }

BOOL IoControl(HANDLE volume, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
  return DeviceIoControl(volume, code, in, inSize, out, outSize, returned, nullptr);
}

EXECUTION_STATE SetExecutionState(EXECUTION_STATE flags) { return SetThreadExecutionState(flags); }

BOOL VolumeInformation(const char* rootPath, DWORD* maxComponentLength, DWORD* fileSystemFlags) {
  return GetVolumeInformationA(rootPath, nullptr, 0, nullptr, maxComponentLength, fileSystemFlags, nullptr, 0);
}

}  // namespace device
