#include "common/update_sequence.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
constexpr milliseconds kOneSecond{1000};
constexpr uint32_t kSystemErrorNotReady = 21;
constexpr uint32_t kSystemErrorInvalidParameter = 87;
constexpr int kVolumeQueries = 3;
constexpr int kPollAttempts = 3;

// The job's length must lie within the image: a damaged configuration must not make the engine read
// past the buffer or send a meaningless command.
bool LengthFits(int64_t length, size_t imageSize) { return length > 0 && static_cast<uint64_t>(length) <= imageSize; }

uint32_t Scaled(uint64_t part, uint64_t whole, uint32_t span, uint32_t base) {
  return whole == 0 ? base + span : static_cast<uint32_t>(part * span / whole + base);
}

class WindowsRun {
 public:
  WindowsRun(const UpdateJob& job, UpdateCommands& commands, UpdateReporter& reporter, UpdateClock& clock,
             VolumeProbe* probe)
      : job_(job), c_(commands), reporter_(reporter), clock_(clock), probe_(probe) {}

  bool Run() {
    if (!LengthFits(job_.length, job_.image.size())) {
      reporter_.Error(kUpdateFailed);
      return false;
    }
    bool succeeded = false;
    if (c_.Open(job_.drive)) {
      succeeded = Sequence();
      c_.Close();
    }
    if (!succeeded) {
      reporter_.Error(accepted_ ? kUpdateFailed : kUpdateRefused);
      return false;
    }
    if (job_.centerOnDesktop) {
      reporter_.Stage(kStageComplete);
      clock_.Pause(2 * kOneSecond);
    }
    return true;
  }

 private:
  bool Sequence() {
    const auto start = static_cast<uint32_t>(job_.startAddress);
    const auto length = static_cast<uint32_t>(job_.length);
    uint16_t steps = 0;
    if (!c_.PrepareUpdate(start, length, job_.target, steps)) {
      // A recorder that refuses stays where it is; one that was pulled out refused nothing, and
      // telling its user that the firmware is not supported would send them away for good.
      accepted_ = probe_ && VolumeHasGone(probe_->QueryVolume());
      return false;
    }
    if (steps == 0 || !VolumeGone()) return false;

    reporter_.Stage(kStagePreparing);
    clock_.Pause(kOneSecond);
    if (!WaitForPreparation(steps)) return false;

    reporter_.Stage(kStageWriting);
    for (uint32_t offset = 0; offset < length;) {
      const uint32_t n = std::min(length - offset, kImagePieceSize);
      if (!c_.WriteImage(job_.image.data() + offset, n, job_.target)) return false;
      offset += n;
      reporter_.Progress(WriteProgress(offset, length));
    }
    reporter_.Progress(98);
    if (!c_.FinishWrite(job_.target)) return false;

    // The sub processor cannot be read back.
    if (!job_.verify || job_.target == TargetCode::Sub) {
      reporter_.Progress(100);
      return true;
    }
    // A recorder that does not offer the read-back has still taken the image.
    if (!c_.StartVerify(start, length, job_.target)) return true;
    reporter_.Stage(kStageVerifying);
    const bool matched = ReadBack(length);
    const bool ended = c_.FinishVerify(job_.target);
    return matched && ended;
  }

  bool VolumeGone() {
    if (!probe_) {
      clock_.Pause(kOneSecond);
      return true;
    }
    for (int i = 0; i < kVolumeQueries; ++i) {
      if (VolumeHasGone(probe_->QueryVolume())) return true;
    }
    return false;
  }

  bool WaitForPreparation(uint16_t steps) {
    reporter_.Progress(0);
    uint16_t remaining = steps;
    while (remaining != 0) {
      uint16_t reply = 0;
      int attempt = 0;
      while (!c_.GetPrepareRemaining(job_.target, reply)) {
        clock_.Pause(kOneSecond);
        if (++attempt == kPollAttempts) return false;
      }
      if (reply > steps) return false;
      remaining = reply;
      reporter_.Progress(PreparationProgress(steps, remaining));
    }
    reporter_.Progress(65);
    return true;
  }

  bool ReadBack(uint32_t length) {
    std::vector<uint8_t> buffer(kImagePieceSize + 1);
    for (uint32_t offset = 0; offset < length;) {
      const uint32_t n = std::min(length - offset, kImagePieceSize);
      if (!c_.ReadImage(buffer.data(), n, job_.target) ||
          !std::equal(buffer.begin(), buffer.begin() + n, job_.image.begin() + offset)) {
        return false;
      }
      offset += n;
      reporter_.Progress(VerifyProgress(offset, length));
    }
    reporter_.Progress(100);
    return true;
  }

  const UpdateJob& job_;
  UpdateCommands& c_;
  UpdateReporter& reporter_;
  UpdateClock& clock_;
  VolumeProbe* probe_;
  bool accepted_ = true;
};

}  // namespace

bool VolumeHasGone(uint32_t systemError) {
  return systemError == kSystemErrorNotReady || systemError == kSystemErrorInvalidParameter;
}

uint32_t PreparationProgress(uint32_t steps, uint32_t remaining) { return Scaled(steps - remaining, steps, 65, 0); }
uint32_t WriteProgress(uint32_t offset, uint32_t length) { return Scaled(offset, length, 33, 65); }
uint32_t VerifyProgress(uint32_t offset, uint32_t length) { return Scaled(offset, length, 2, 98); }
uint32_t MacPhaseProgress(uint64_t done, uint64_t total) { return Scaled(done, total, 100, 0); }

bool RunUpdate(const UpdateJob& job, UpdateCommands& commands, UpdateReporter& reporter, UpdateClock& clock,
               VolumeProbe* probe) {
  return WindowsRun(job, commands, reporter, clock, probe).Run();
}

int RunMacFirmwareUpdate(const MacUpdateJob& job, const std::shared_ptr<UpdateCommands>& commands, MacUpdateSite& site,
                         UpdateClock& clock) {
  if (!commands || !site.Connected() || !LengthFits(job.length, job.image.size())) return kMacUpdateFailed;
  if (!site.PrepareVolumes()) return kMacVolumesBusy;

  UpdateCommands& c = *commands;
  uint16_t steps = 0;
  if (!c.PrepareUpdate(job.startAddress, job.length, job.target, steps)) return kMacUpdateFailed;
  clock.Pause(kOneSecond);
  site.ShowPhase(kMacPreparingText);

  auto fail = [&site] {
    site.CloseSheet();
    return kMacUpdateFailed;
  };

  // The first attempt of a poll never passes while nothing has been reported done yet: the recorder
  // needs a moment after the preparation command before its count means anything.
  for (uint16_t remaining = steps; remaining != 0;) {
    uint16_t reply = 0;
    bool passed = false;
    for (int attempt = 0; attempt < kPollAttempts && !passed; ++attempt) {
      const bool ok = c.GetPrepareRemaining(job.target, reply);
      passed = ok && !(attempt == 0 && remaining == steps);
      if (!passed) clock.Pause(kOneSecond);
    }
    if (!passed || reply > steps) return fail();
    remaining = reply;
    site.SetProgress(MacPhaseProgress(steps - remaining, steps));
  }
  site.SetProgress(100);

  site.ShowPhase(kMacWritingText);
  for (uint32_t written = 0; written < job.length;) {
    const uint32_t n = std::min(job.length - written, kImagePieceSize);
    if (!c.WriteImage(job.image.data() + written, n, job.target)) return fail();
    written += n;
    site.SetProgress(MacPhaseProgress(written, job.length));
  }

  if (job.target == TargetCode::Sub) {
    // The sub processor answers its finishing command late or not at all; its result is not used.
    // The thread owns a share of the commands, so an answer after the wait finds them alive.
    std::shared_ptr<UpdateCommands> shared = commands;
    site.RunDetachedAndWait([shared] { shared->FinishWrite(TargetCode::Sub); }, kSubFinishWait);
  } else if (!c.FinishWrite(job.target)) {
    return fail();
  }
  site.CloseSheet();
  return kMacUpdateDone;
}

bool VerifyMacFirmwareUpdate(const MacUpdateJob& job, UpdateCommands& c, MacUpdateSite& site) {
  if (!site.Connected()) return false;
  if (job.length == 0 || (!job.image.empty() && job.length > job.image.size())) return false;
  if (!c.StartVerify(job.startAddress, job.length, job.target)) return true;
  site.ShowPhase(kMacVerifyingText);

  bool matched = !job.image.empty();
  std::vector<uint8_t> buffer(kImagePieceSize + 1);
  for (uint32_t read = 0; matched && read < job.length;) {
    const uint32_t n = std::min(job.length - read, kImagePieceSize);
    matched = c.ReadImage(buffer.data(), n, job.target) &&
              std::equal(buffer.begin(), buffer.begin() + n, job.image.begin() + read);
    read += n;
    if (matched) site.SetProgress(MacPhaseProgress(read, job.length));
  }
  // The recorder leaves its verification mode only with this command, so it goes out in every case.
  const bool ended = c.FinishVerify(job.target);
  site.CloseSheet();
  return matched && ended;
}

void RunDetachedAndWaitFor(std::function<void()> task, std::chrono::milliseconds limit) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
  };
  auto shared = std::make_shared<Shared>();
  std::thread([shared, task = std::move(task)] {
    task();
    std::lock_guard lock(shared->mutex);
    shared->done = true;
    shared->ended.notify_all();
  }).detach();
  std::unique_lock lock(shared->mutex);
  shared->ended.wait_for(lock, limit, [&] { return shared->done; });
}
