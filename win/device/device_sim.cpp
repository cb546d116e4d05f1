// The simulated host: the recorder of a state file appears as a removable drive, its volume answers
// pass-through requests, and it vanishes and returns as the recorder leaves and comes back. Other
// drives are the system's own.
//
// The state file is ZT_SIM_RECORDER, or "zt5100-recorder.sim" in the temporary folder; the drive
// letter is ZT_SIM_DRIVE, or E. Only the simulation builds read these: the shipped programs do not
// contain this file.

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "sim/link.h"
#include "win/device/device_io.h"
#include "win/device/pass_through.h"
#include "win/device/sim_host.h"

namespace device {

namespace {

struct Host {
  std::mutex mutex;
  std::unique_ptr<sim::StoreLink> link;
  char letter = 'E';
  std::set<HANDLE> volumes;  // volume handles of the simulated drive that are open

  Host() {
    const char* path = std::getenv("ZT_SIM_RECORDER");
    std::string file;
    if (path && *path) {
      file = path;
    } else {
      char temp[MAX_PATH + 1] = {};
      GetTempPathA(MAX_PATH, temp);
      file = std::string(temp) + "zt5100-recorder.sim";
    }
    link = std::make_unique<sim::StoreLink>(file);
    const char* drive = std::getenv("ZT_SIM_DRIVE");
    if (drive && std::isalpha(static_cast<unsigned char>(drive[0]))) letter = static_cast<char>(std::toupper(drive[0]));
  }

  bool IsOurs(const char* path, size_t letterAt) const {
    return path && std::strlen(path) > letterAt && std::toupper(static_cast<unsigned char>(path[letterAt])) == letter;
  }
};

Host& TheHost() {
  static Host host;
  return host;
}

// Fixed-format sense data: ILLEGAL REQUEST, so a refused command looks like a real refusal.
void FillSense(uint8_t* sense, uint8_t length) {
  if (!sense || length == 0) return;
  std::memset(sense, 0, length);
  sense[0] = 0x70;
  if (length > 2) sense[2] = 0x05;
  if (length > 7) sense[7] = static_cast<uint8_t>(length > 8 ? length - 8 : 0);
}

}  // namespace

DWORD LogicalDrives() {
  Host& host = TheHost();
  DWORD drives = GetLogicalDrives() & ~(1u << (host.letter - 'A'));
  std::lock_guard lock(host.mutex);
  if (host.link->Attached()) drives |= 1u << (host.letter - 'A');
  return drives;
}

UINT DriveType(const char* rootPath) {
  Host& host = TheHost();
  if (!host.IsOurs(rootPath, 0)) return GetDriveTypeA(rootPath);
  std::lock_guard lock(host.mutex);
  return host.link->Attached() ? DRIVE_REMOVABLE : DRIVE_NO_ROOT_DIR;
}

HANDLE OpenVolume(const char* devicePath) {
  Host& host = TheHost();
  // "\\.\X:" names the volume of drive X.
  if (!host.IsOurs(devicePath, 4) || std::strncmp(devicePath, "\\\\.\\", 4) != 0) {
    return CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  }
  std::lock_guard lock(host.mutex);
  if (!host.link->Attached()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A real kernel object, so that the handle is unique and closing it is an ordinary close.
  HANDLE volume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (volume) host.volumes.insert(volume);
  return volume ? volume : INVALID_HANDLE_VALUE;
}

void CloseVolume(HANDLE volume) {
  Host& host = TheHost();
  {
    std::lock_guard lock(host.mutex);
    if (host.volumes.erase(volume) != 0) host.link->Released();
  }
  CloseHandle(volume);
}

BOOL IoControl(HANDLE volume, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
  Host& host = TheHost();
  std::unique_lock lock(host.mutex);
  if (host.volumes.count(volume) == 0) {
    lock.unlock();
    return DeviceIoControl(volume, code, in, inSize, out, outSize, returned, nullptr);
  }
  PassThroughRequest request;
  if (!DecodePassThrough(code, in, inSize, out, outSize, request)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const sim::Reply reply = host.link->Execute(request.cdb, request.dataOut, request.dataInArea);
  switch (reply.status) {
    case sim::Status::Good:
      *request.scsiStatus = 0;
      if (request.dataIn == SCSI_IOCTL_DATA_IN) *request.transferLength = reply.length;
      break;
    case sim::Status::CheckCondition:
      *request.scsiStatus = 2;
      *request.transferLength = 0;
      FillSense(request.sense, request.senseLength);
      break;
    case sim::Status::TimedOut:
      SetLastError(ERROR_SEM_TIMEOUT);
      return FALSE;
    case sim::Status::NoDevice:
      SetLastError(ERROR_DEVICE_NOT_CONNECTED);
      return FALSE;
  }
  if (returned) *returned = request.returnedOnSuccess;
  return TRUE;
}

BOOL VolumeInformation(const char* rootPath, DWORD* maxComponentLength, DWORD* fileSystemFlags) {
  Host& host = TheHost();
  if (!host.IsOurs(rootPath, 0)) {
    return GetVolumeInformationA(rootPath, nullptr, 0, nullptr, maxComponentLength, fileSystemFlags, nullptr, 0);
  }
  std::lock_guard lock(host.mutex);
  if (!host.link->VolumeMounted()) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  if (maxComponentLength) *maxComponentLength = 255;
  if (fileSystemFlags) *fileSystemFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
  return TRUE;
}

char SimulatedDriveLetter() { return TheHost().letter; }
std::string SimulatedRecorderPath() { return TheHost().link->path(); }

}  // namespace device
