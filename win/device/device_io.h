#pragma once
// Everything the command layer asks of the operating system about drives, in one place. The shipped
// programs link the Win32 implementation; the simulation builds link one that puts the simulated
// recorder on a removable drive and answers its pass-through requests. The choice is made by the
// build, never at run time.

#include <windows.h>

namespace device {

DWORD LogicalDrives();
UINT DriveType(const char* rootPath);
// The volume "\\.\X:" opened for reading and writing, shared, as the pass-through needs it;
// INVALID_HANDLE_VALUE with the last error set on failure.
HANDLE OpenVolume(const char* devicePath);
void CloseVolume(HANDLE volume);
BOOL IoControl(HANDLE volume, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
// Only the maximum component length and the file-system flags are asked for.
BOOL VolumeInformation(const char* rootPath, DWORD* maxComponentLength, DWORD* fileSystemFlags);
// The calling thread's request that the system stay awake (SetThreadExecutionState): taken while a
// drive is written, so that idleness never puts the computer to sleep in mid-write.
EXECUTION_STATE SetExecutionState(EXECUTION_STATE flags);

}  // namespace device
