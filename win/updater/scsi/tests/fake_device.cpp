#include "win/updater/scsi/tests/fake_device.h"

#include <cstring>

#include "win/device/device_io.h"
#include "win/device/pass_through.h"

namespace fake {
Host& TheHost() {
  static Host host;
  return host;
}
}  // namespace fake

namespace device {

namespace {
// Volume handles are the drive letter in disguise.
HANDLE HandleFor(char letter) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1000 + letter)); }
char LetterOf(HANDLE h) { return static_cast<char>(reinterpret_cast<uintptr_t>(h) - 0x1000); }
}  // namespace

DWORD LogicalDrives() {
  DWORD mask = 0;
  for (const auto& [letter, drive] : fake::TheHost().drives) mask |= 1u << (letter - 'A');
  return mask;
}

UINT DriveType(const char* rootPath) {
  const auto it = fake::TheHost().drives.find(rootPath[0]);
  return it == fake::TheHost().drives.end() ? DRIVE_NO_ROOT_DIR : it->second.type;
}

HANDLE OpenVolume(const char* devicePath) {
  const char letter = devicePath[4];
  if (std::strncmp(devicePath, "\\\\.\\", 4) != 0 || fake::TheHost().drives.count(letter) == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  ++fake::TheHost().opens;
  return HandleFor(letter);
}

void CloseVolume(HANDLE) { ++fake::TheHost().closes; }

BOOL IoControl(HANDLE volume, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
  fake::Host& host = fake::TheHost();
  fake::Request recorded;
  recorded.code = code;
  recorded.inSize = inSize;
  recorded.outSize = outSize;
  if (code == IOCTL_SCSI_PASS_THROUGH && inSize >= sizeof(SCSI_PASS_THROUGH)) {
    std::memcpy(&recorded.buffered, in, sizeof(SCSI_PASS_THROUGH));
    recorded.cdb.assign(recorded.buffered.Cdb, recorded.buffered.Cdb + recorded.buffered.CdbLength);
  } else if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT && inSize >= sizeof(SCSI_PASS_THROUGH_DIRECT)) {
    std::memcpy(&recorded.direct, in, sizeof(SCSI_PASS_THROUGH_DIRECT));
    recorded.cdb.assign(recorded.direct.Cdb, recorded.direct.Cdb + recorded.direct.CdbLength);
  }
  host.requests.push_back(recorded);

  if (host.failCalls > 0) {
    --host.failCalls;
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
  }
  PassThroughRequest request;
  if (!DecodePassThrough(code, in, inSize, out, outSize, request)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  sim::Recorder* recorder = host.drives[LetterOf(volume)].recorder;
  if (!recorder) {
    *request.scsiStatus = 2;
    if (returned) *returned = request.returnedOnSuccess;
    return TRUE;
  }
  const sim::Reply reply = recorder->Execute(request.cdb, request.dataOut, request.dataInArea, 0);
  if (reply.status == sim::Status::NoDevice || reply.status == sim::Status::TimedOut) {
    SetLastError(ERROR_SEM_TIMEOUT);
    return FALSE;
  }
  *request.scsiStatus = reply.status == sim::Status::Good ? 0 : 2;
  if (request.dataIn == SCSI_IOCTL_DATA_IN) *request.transferLength = reply.length;
  if (returned) *returned = request.returnedOnSuccess;
  return TRUE;
}

EXECUTION_STATE SetExecutionState(EXECUTION_STATE flags) {
  fake::TheHost().executionStates.push_back(flags);
  return ES_CONTINUOUS;
}

BOOL VolumeInformation(const char*, DWORD*, DWORD*) {
  SetLastError(ERROR_NOT_READY);
  return FALSE;
}

}  // namespace device
