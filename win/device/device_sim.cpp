// The simulated host: the recorder of a state file appears as a removable drive, its volume answers
// pass-through requests, and it vanishes and returns as the recorder leaves and comes back. Other
// drives are the system's own.
//
// The state file is ZT_SIM_RECORDER, or "zt5100-recorder.sim" in the temporary folder; the drive
// letter is ZT_SIM_DRIVE, or E. Only the simulation builds read these: the shipped programs do not
// contain this file.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/link.h"
#include "sim/state_file.h"
#include "win/device/device_io.h"
#include "win/device/pass_through.h"
#include "win/device/sim_host.h"

#include <dbt.h>  // after <windows.h>, which it needs

namespace device {

namespace {

constexpr DWORD kPollMs = 250;
// A window whose thread does not answer within this time is skipped, so that one stuck window
// cannot stop the others from hearing about the drive.
constexpr UINT kSendTimeoutMs = 3000;

// What the watcher knows of the recorder's drive. `generation` counts arrivals, so a leave and return
// that fell between two looks is still seen.
struct Presence {
  bool attached = false;
  uint32_t generation = 0;
};

// The notifications that take a watcher from `before` to `now`, in the order the system would have
// sent them.
std::vector<WPARAM> Changes(Presence before, Presence now) {
  std::vector<WPARAM> events;
  if (now.generation != before.generation) {
    if (before.attached) events.push_back(DBT_DEVICEREMOVECOMPLETE);
    events.push_back(DBT_DEVICEARRIVAL);
    if (!now.attached) events.push_back(DBT_DEVICEREMOVECOMPLETE);
  } else if (now.attached != before.attached) {
    events.push_back(now.attached ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
  }
  return events;
}

BOOL CALLBACK CollectOwnWindow(HWND window, LPARAM windows) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId()) return TRUE;
  try {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
  } catch (...) {
    return FALSE;  // no exception may cross into the system's enumeration
  }
}

struct Host {
  std::mutex mutex;
  std::unique_ptr<sim::StoreLink> link;
  char letter = 'E';
  std::set<HANDLE> volumes;  // volume handles of the simulated drive that are open

  // The watcher's side. Taken only on its own, never together with `mutex`, and held across the
  // sends: a window procedure that calls back into the host finds `mutex` free, and two checks
  // cannot report one change twice or out of order.
  std::mutex watchMutex;
  std::unique_ptr<sim::RecorderStore> store;  // its own reader, so a look never waits for `mutex`
  Presence seen;
  // Filled once and never written again: a receiver that is still reading it after its send timed
  // out reads valid, unchanged memory, which a struct on the watcher's stack would not be.
  DEV_BROADCAST_VOLUME broadcast{};

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
    store = std::make_unique<sim::RecorderStore>(file);
    broadcast.dbcv_size = sizeof(broadcast);
    broadcast.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    broadcast.dbcv_unitmask = 1u << (letter - 'A');
    broadcast.dbcv_flags = 0;
    seen = Look();
  }

  bool IsOurs(const char* path, size_t letterAt) const {
    return path && std::strlen(path) > letterAt && std::toupper(static_cast<unsigned char>(path[letterAt])) == letter;
  }

  // With watchMutex held. Times such as the end of a restart are only computed when the recorder is
  // asked, so every look asks (Tick), as the other processes do.
  Presence Look() const {
    sim::Recorder recorder;
    std::string error;
    // A state file that cannot be read is a recorder that is not there, as for StoreLink.
    if (!store->Read(recorder, error)) return Presence{false, seen.generation};
    recorder.Tick(sim::WallClockMs());
    return Presence{recorder.attached, recorder.generation};
  }

  // With watchMutex held.
  void CheckLocked() {
    const Presence now = Look();
    const std::vector<WPARAM> events = Changes(seen, now);
    seen = now;
    for (const WPARAM event : events) {
      std::vector<HWND> windows;
      EnumWindows(CollectOwnWindow, reinterpret_cast<LPARAM>(&windows));
      // Sent, not posted, as the system does: the receiver reads the volume record during the call.
      for (const HWND window : windows) Send(window, event, reinterpret_cast<LPARAM>(&broadcast));
      for (const HWND window : windows) Send(window, DBT_DEVNODES_CHANGED, 0);
    }
  }

  static void Send(HWND window, WPARAM event, LPARAM data) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_DEVICECHANGE, event, data, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
  }

  void StartWatching() {
    try {
      std::thread([this] {
        for (;;) {
          Sleep(kPollMs);
          try {
            std::lock_guard lock(watchMutex);
            CheckLocked();
          } catch (...) {
            // Out of memory in one look; the next one tries again.
          }
        }
      }).detach();
    } catch (const std::exception&) {
      OutputDebugStringA("simulated host: no drive watcher, the recorder's arrival and removal go unreported\n");
    }
  }
};

// Made on the first call into the host, so a program that never touches a drive starts no watcher.
// Never destroyed, on purpose: the detached watcher runs until the process ends and keeps using the
// host while static destructors run at exit. Stopping and joining it from an atexit handler instead
// could hold every exit for the send time-out, when the watcher is sending to a window of the
// exiting thread.
Host& TheHost() {
  static Host* const host = [] {
    Host* made = new Host;
    made->StartWatching();
    return made;
  }();
  return *host;
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

void PollSimulatedDrive() {
  Host& host = TheHost();
  std::unique_lock lock(host.watchMutex, std::try_to_lock);
  while (!lock.owns_lock()) {
    // The watcher may be sending to a window of this thread: answer while waiting for it, or both
    // would stand still until its send timed out.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    lock.try_lock();
  }
  host.CheckLocked();
}

}  // namespace device
