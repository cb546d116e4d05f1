#include "win/updater/update/update_firmware.h"

#include <optional>
#include <string>

#include "win/device/device_io.h"

namespace {

// The system stays awake, display included, while it lives: a computer that went to sleep for
// idleness in mid-write would leave the recorder half-written. The request belongs to the thread that
// made it, so it is let go on the same thread.
class StayAwake {
 public:
  StayAwake() { device::SetExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED); }
  ~StayAwake() { device::SetExecutionState(ES_CONTINUOUS); }
  StayAwake(const StayAwake&) = delete;
  StayAwake& operator=(const StayAwake&) = delete;
};

// The facade's update commands as the sequence sees them. The system is kept awake from the drive's
// opening to its closing, and released on every path out.
class ScsiUpdateCommands : public UpdateCommands {
 public:
  explicit ScsiUpdateCommands(CScsiCommand& command) : command_(command) {}
  bool Open(uint32_t drive) override {
    awake_.emplace();
    if (command_.Open(drive)) return true;
    awake_.reset();
    return false;
  }
  bool Close() override {
    const bool closed = command_.Close();
    awake_.reset();
    return closed;
  }
  bool PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) override {
    return command_.PrepareUpdate(startAddress, length, target, steps);
  }
  bool GetPrepareRemaining(TargetCode target, uint16_t& remaining) override {
    return command_.GetPrepareRemaining(target, remaining);
  }
  bool WriteImage(const uint8_t* data, uint32_t count, TargetCode target) override {
    return command_.WriteImage(data, count, target);
  }
  bool FinishWrite(TargetCode target) override { return command_.FinishWrite(target); }
  bool StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) override {
    return command_.StartVerify(startAddress, length, target);
  }
  bool ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) override {
    return command_.ReadImage(buffer, count, target);
  }
  bool FinishVerify(TargetCode target) override { return command_.FinishVerify(target); }

 private:
  CScsiCommand& command_;
  std::optional<StayAwake> awake_;
};

class PostingReporter : public UpdateReporter {
 public:
  explicit PostingReporter(HWND window) : window_(window) {}
  void Progress(uint32_t percent) override { Post(WM_UPDATE_PROGRESS, percent); }
  void Stage(uint32_t stage) override { Post(WM_UPDATE_STAGE, stage); }
  void Error(uint32_t error) override { Post(WM_UPDATE_ERROR, error); }

 private:
  void Post(UINT message, uint32_t value) {
    if (window_) PostMessageA(window_, message, value, 0);
  }
  HWND window_;
};

class SleepClock : public UpdateClock {
 public:
  void Pause(std::chrono::milliseconds duration) override { Sleep(static_cast<DWORD>(duration.count())); }
};

class DriveVolumeProbe : public VolumeProbe {
 public:
  explicit DriveVolumeProbe(uint32_t drive) : root_{static_cast<char>('A' + drive), ':', '\\', '\0'} {}
  uint32_t QueryVolume() override {
    DWORD maxComponent = 0;
    DWORD flags = 0;
    if (device::VolumeInformation(root_, &maxComponent, &flags)) return 0;
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
  }

 private:
  char root_[4];
};

bool CurrentSystemChecksVolume() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return true;
  return ChecksVolumeOn(version.dwMajorVersion, version.dwMinorVersion);
}

}  // namespace

bool ChecksVolumeOn(DWORD majorVersion, DWORD minorVersion) {
  return !(majorVersion == 4 && (minorVersion == 10 || minorVersion == 90));
}

CUpdateFirmware::CUpdateFirmware(HWND notify) : CheckVolume(CurrentSystemChecksVolume()), Notify(notify) {}

BOOL CUpdateFirmware::RunUpdate(uint32_t drive, TargetCode target, uint32_t startAddress, uint32_t length,
                                std::span<const uint8_t> image, bool verify, bool centerOnDesktop) {
  UpdateJob job;
  job.drive = drive;
  job.target = target;
  job.startAddress = static_cast<int32_t>(startAddress);
  job.length = static_cast<int32_t>(length);
  job.image = image;
  job.verify = verify;
  job.centerOnDesktop = centerOnDesktop;

  ScsiUpdateCommands commands(Command);
  PostingReporter reporter(Notify);
  SleepClock clock;
  DriveVolumeProbe probe(drive);
  return ::RunUpdate(job, commands, reporter, clock, CheckVolume ? &probe : nullptr) ? TRUE : FALSE;
}
