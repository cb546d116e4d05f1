#pragma once
// The update sequence: prepare the recorder, wait for its preparation, write the image in pieces,
// finish, and verify by reading it back. Written once over the command layer, a reporter, a clock
// for the pauses and a volume probe, so that the Windows engine, the Mac device manager, the tests
// and the benchmark all run the same code.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "common/commands.h"

// The operations of the command layer the sequence uses. Each is one command to the recorder
// (Open and Close bracket them on Windows); true is success.
class UpdateCommands {
 public:
  virtual ~UpdateCommands() = default;
  virtual bool Open(uint32_t drive) = 0;
  virtual bool Close() = 0;
  virtual bool PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) = 0;
  virtual bool GetPrepareRemaining(TargetCode target, uint16_t& remaining) = 0;
  virtual bool WriteImage(const uint8_t* data, uint32_t count, TargetCode target) = 0;
  virtual bool FinishWrite(TargetCode target) = 0;
  virtual bool StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) = 0;
  // `buffer` has room for `count` + 1 bytes: a transport may store a zero byte after the data.
  virtual bool ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) = 0;
  virtual bool FinishVerify(TargetCode target) = 0;
};

class UpdateClock {
 public:
  virtual ~UpdateClock() = default;
  virtual void Pause(std::chrono::milliseconds duration) = 0;
};

// ---- Windows ----

enum UpdateStage : uint32_t { kStagePreparing = 1, kStageWriting = 2, kStageVerifying = 3, kStageComplete = 4 };
enum UpdateError : uint32_t { kUpdateFailed = 5, kUpdateRefused = 6 };

class UpdateReporter {
 public:
  virtual ~UpdateReporter() = default;
  virtual void Progress(uint32_t percent) = 0;
  virtual void Stage(uint32_t stage) = 0;
  virtual void Error(uint32_t error) = 0;
};

// Asks the system about the recorder's volume: 0 when it answered, else the system's error code.
class VolumeProbe {
 public:
  virtual ~VolumeProbe() = default;
  virtual uint32_t QueryVolume() = 0;
};

struct UpdateJob {
  uint32_t drive = 0;
  TargetCode target = TargetCode::Main;
  int32_t startAddress = 0;
  int32_t length = 0;
  std::span<const uint8_t> image;
  bool verify = true;
  bool centerOnDesktop = false;
};

// The volume has gone when the system answers "not ready" or "invalid parameter".
bool VolumeHasGone(uint32_t systemError);

// The one progress scale of a Windows run: preparation 0-65, writing 65-98, verification 98-100.
// 64-bit intermediates, so that no image size can overflow them.
uint32_t PreparationProgress(uint32_t steps, uint32_t remaining);
uint32_t WriteProgress(uint32_t offset, uint32_t length);
uint32_t VerifyProgress(uint32_t offset, uint32_t length);

// Runs the whole sequence on the job's drive. `probe` is null when the volume is not to be checked
// (the recorder is given a second instead). Returns true on success; a failure has been reported as
// error 6 (the recorder refused the preparation) or 5 (anything else).
bool RunUpdate(const UpdateJob& job, UpdateCommands& commands, UpdateReporter& reporter, UpdateClock& clock,
               VolumeProbe* probe);

// ---- Mac ----

enum MacUpdateResult : int { kMacUpdateDone = 0, kMacUpdateFailed = 1, kMacVolumesBusy = 2 };

// The glossary ids of the progress sheet's phase texts.
inline constexpr uint32_t kMacPreparingText = 12001;
inline constexpr uint32_t kMacWritingText = 12002;
inline constexpr uint32_t kMacVerifyingText = 12003;

// What the Mac device manager does around the sequence.
class MacUpdateSite {
 public:
  virtual ~MacUpdateSite() = default;
  virtual bool Connected() = 0;
  // Stops watching the device, tells the delegate, unmounts every volume; false when one stays.
  virtual bool PrepareVolumes() = 0;
  // Shows the progress sheet (or moves it to a new phase) with a glossary text; the bar starts at 0.
  virtual void ShowPhase(uint32_t messageId) = 0;
  virtual void SetProgress(uint32_t percent) = 0;
  virtual void CloseSheet() = 0;
  // Runs `task` on a thread of its own and waits until that thread has ended, at most `limit`.
  virtual void RunDetachedAndWait(std::function<void()> task, std::chrono::milliseconds limit) = 0;
};

struct MacUpdateJob {
  TargetCode target = TargetCode::Main;
  uint32_t startAddress = 0;
  uint32_t length = 0;
  std::span<const uint8_t> image;  // empty when the resource is missing
};

// Each Mac phase runs its own bar from 0 to 100.
uint32_t MacPhaseProgress(uint64_t done, uint64_t total);

inline constexpr std::chrono::milliseconds kSubFinishWait{20000};

// 0 done, 1 failed, 2 the volumes could not be unmounted. The commands are shared with the thread
// that finishes a sub-processor image, which may outlive the wait.
int RunMacFirmwareUpdate(const MacUpdateJob& job, const std::shared_ptr<UpdateCommands>& commands, MacUpdateSite& site,
                         UpdateClock& clock);
bool VerifyMacFirmwareUpdate(const MacUpdateJob& job, UpdateCommands& commands, MacUpdateSite& site);

// A plain implementation of MacUpdateSite::RunDetachedAndWait: a detached std::thread and a wait that
// ends with it.
void RunDetachedAndWaitFor(std::function<void()> task, std::chrono::milliseconds limit);
