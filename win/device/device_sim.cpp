// The simulated host: the recorder of a state file appears as a removable drive, its volume answers
// pass-through requests, and it vanishes and returns as the recorder leaves and comes back. Other
// drives are the system's own.
//
// The state file is ZT_SIM_RECORDER, or "zt5100-recorder.sim" in the temporary folder; the drive
// letter is ZT_SIM_DRIVE, or E. A second recorder, for what happens when two are plugged in, stands
// on ZT_SIM_DRIVE2 (default F) when ZT_SIM_RECORDER2 names its state file; it is left out when its
// letter is the first one's. Each drive has its own link, volumes and notifications. Only the
// simulation builds read these: the shipped programs do not contain this file.

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

// What `name` says in the environment; empty when it is not set.
std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

char LetterOf(const char* name, char otherwise) {
  const std::string drive = Setting(name);
  return !drive.empty() && std::isalpha(static_cast<unsigned char>(drive[0]))
             ? static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])))
             : otherwise;
}

// One recorder on its drive letter.
struct Drive {
  Drive(const std::string& file, char driveLetter)
      : letter(driveLetter), bit(1u << (driveLetter - 'A')), link(file), store(file) {
    broadcast.dbcv_size = sizeof(broadcast);
    broadcast.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    broadcast.dbcv_unitmask = bit;
    broadcast.dbcv_flags = 0;
    seen = Look();
  }

  const char letter;
  const DWORD bit;

  // Under Host::mutex.
  sim::StoreLink link;
  std::set<HANDLE> volumes;  // volume handles of this drive that are open

  // The watcher's side, under Host::watchMutex.
  sim::RecorderStore store;  // its own reader, so a look never waits for Host::mutex
  Presence seen;
  // Filled once and never written again: a receiver that is still reading it after its send timed
  // out reads valid, unchanged memory, which a struct on the watcher's stack would not be.
  DEV_BROADCAST_VOLUME broadcast{};

  // Times such as the end of a restart are only computed when the recorder is asked, so every look
  // asks (Tick), as the other processes do.
  Presence Look() const {
    sim::Recorder recorder;
    std::string error;
    // A state file that cannot be read is a recorder that is not there, as for StoreLink.
    if (!store.Read(recorder, error)) return Presence{false, seen.generation};
    recorder.Tick(sim::WallClockMs());
    return Presence{recorder.attached, recorder.generation};
  }

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
};

struct Host {
  // Guards every drive's link and volumes.
  std::mutex mutex;
  // Taken only on its own, never together with `mutex`, and held across the sends: a window
  // procedure that calls back into the host finds `mutex` free, and two checks cannot report one
  // change twice or out of order.
  std::mutex watchMutex;
  // Fixed after construction, so finding a drive needs no lock; each at an address of its own for
  // the broadcast records.
  std::vector<std::unique_ptr<Drive>> drives;

  Host() {
    std::string file = Setting("ZT_SIM_RECORDER");
    if (file.empty()) {
      char temp[MAX_PATH + 1] = {};
      GetTempPathA(MAX_PATH, temp);
      file = std::string(temp) + "zt5100-recorder.sim";
    }
    drives.push_back(std::make_unique<Drive>(file, LetterOf("ZT_SIM_DRIVE", 'E')));
    // Only when asked for, so that a single recorder behaves exactly as it always has.
    const std::string second = Setting("ZT_SIM_RECORDER2");
    const char letter = LetterOf("ZT_SIM_DRIVE2", 'F');
    if (second.empty()) return;
    if (letter == drives.front()->letter) {
      OutputDebugStringA("simulated host: the second recorder's drive letter is the first's; it is left out\n");
      return;
    }
    drives.push_back(std::make_unique<Drive>(second, letter));
  }

  Drive* DriveOf(const char* path, size_t letterAt) const {
    if (!path || std::strlen(path) <= letterAt) return nullptr;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[letterAt])));
    for (const auto& drive : drives) {
      if (drive->letter == letter) return drive.get();
    }
    return nullptr;
  }

  // With `mutex` held.
  Drive* DriveOfVolume(HANDLE volume) const {
    for (const auto& drive : drives) {
      if (drive->volumes.count(volume) != 0) return drive.get();
    }
    return nullptr;
  }

  // With watchMutex held.
  void CheckLocked() {
    for (const auto& drive : drives) drive->CheckLocked();
  }

  void StartWatching() {
    try {
      std::thread([this] {
        for (;;) {
          Sleep(kPollMs);
          for (const auto& drive : drives) {
            try {
              std::lock_guard lock(watchMutex);
              drive->CheckLocked();
            } catch (...) {
              // Out of memory in one look; the next one tries again.
            }
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
  DWORD drives = GetLogicalDrives();
  std::lock_guard lock(host.mutex);
  for (const auto& drive : host.drives) {
    drives &= ~drive->bit;
    if (drive->link.Attached()) drives |= drive->bit;
  }
  return drives;
}

UINT DriveType(const char* rootPath) {
  Host& host = TheHost();
  Drive* const drive = host.DriveOf(rootPath, 0);
  if (!drive) return GetDriveTypeA(rootPath);
  std::lock_guard lock(host.mutex);
  return drive->link.Attached() ? DRIVE_REMOVABLE : DRIVE_NO_ROOT_DIR;
}

HANDLE OpenVolume(const char* devicePath) {
  Host& host = TheHost();
  // "\\.\X:" names the volume of drive X.
  Drive* const drive = host.DriveOf(devicePath, 4);
  if (!drive || std::strncmp(devicePath, "\\\\.\\", 4) != 0) {
    return CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  }
  std::lock_guard lock(host.mutex);
  if (!drive->link.Attached()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A real kernel object, so that the handle is unique and closing it is an ordinary close.
  HANDLE volume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (volume) drive->volumes.insert(volume);
  return volume ? volume : INVALID_HANDLE_VALUE;
}

void CloseVolume(HANDLE volume) {
  Host& host = TheHost();
  {
    std::lock_guard lock(host.mutex);
    if (Drive* const drive = host.DriveOfVolume(volume)) {
      drive->volumes.erase(volume);
      drive->link.Released();
    }
  }
  CloseHandle(volume);
}

BOOL IoControl(HANDLE volume, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
  Host& host = TheHost();
  std::unique_lock lock(host.mutex);
  Drive* const drive = host.DriveOfVolume(volume);
  if (!drive) {
    lock.unlock();
    return DeviceIoControl(volume, code, in, inSize, out, outSize, returned, nullptr);
  }
  PassThroughRequest request;
  if (!DecodePassThrough(code, in, inSize, out, outSize, request)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const sim::Reply reply = drive->link.Execute(request.cdb, request.dataOut, request.dataInArea);
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

// The simulated recorder is written by a real process on a real computer, which must stay awake too.
EXECUTION_STATE SetExecutionState(EXECUTION_STATE flags) { return SetThreadExecutionState(flags); }

BOOL VolumeInformation(const char* rootPath, DWORD* maxComponentLength, DWORD* fileSystemFlags) {
  Host& host = TheHost();
  Drive* const drive = host.DriveOf(rootPath, 0);
  if (!drive) {
    return GetVolumeInformationA(rootPath, nullptr, 0, nullptr, maxComponentLength, fileSystemFlags, nullptr, 0);
  }
  std::lock_guard lock(host.mutex);
  if (!drive->link.VolumeMounted()) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  if (maxComponentLength) *maxComponentLength = 255;
  if (fileSystemFlags) *fileSystemFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
  return TRUE;
}

char SimulatedDriveLetter(size_t recorder) {
  const Host& host = TheHost();
  return recorder < host.drives.size() ? host.drives[recorder]->letter : '\0';
}

std::string SimulatedRecorderPath(size_t recorder) {
  const Host& host = TheHost();
  return recorder < host.drives.size() ? host.drives[recorder]->link.path() : std::string();
}

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
