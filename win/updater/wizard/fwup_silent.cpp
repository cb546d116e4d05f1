#include "win/updater/wizard/fwup_silent.h"

#include <memory>

#include "common/text_format.h"
#include "common/wizard_rules.h"

namespace {

constexpr uint32_t kSilentTexts[] = {
    text_id::kTitle,        text_id::kModel,        text_id::kOpening,      text_id::kVersion,
    text_id::kNotUpdate,    text_id::kUpdateStart,  text_id::kUpdateEnd,    text_id::kStart,
    text_id::kNext,         text_id::kCancel,       text_id::kFinish,       text_id::kRecorder,
    text_id::kPreparing,    text_id::kWriting,      text_id::kVerifying,    text_id::kUpdatedTo,
    text_id::kInvalidFile,  text_id::kDisconnected, text_id::kUpdateFailed, text_id::kNotSupported,
    text_id::kCannotRead,   text_id::kUnsupportedSystem,
};

// How long a recorder that switches to storage mode is waited for.
constexpr DWORD kFirstWaitMs = 2000;
constexpr int kRetries = 60;
constexpr DWORD kRetryPauseMs = 1000;

}  // namespace

CFwUpBaseSilent::CFwUpBaseSilent(CFwUpBaseApp& app, bool retry) : Session(app, !retry), CurrentDrive(NotFound) {
  // Nobody can be asked here, so the storage size plays no part and the user's rights pick the transport.
  if (!Session.Prepare(kSilentTexts, false)) {
    InitFailed = true;
    return;
  }

  for (const auto& record : Session.Records) {
    CurrentDrive = Session.Command->FindDevice(record->DeviceID);
    if (CurrentDrive != NotFound) {
      CurrentDeviceId = record->DeviceID;
      Decide(CurrentDrive, record->DeviceID);
      break;
    }
  }
  if (CurrentDeviceId == 0) Pending = false;
}

void CFwUpBaseSilent::Decide(uint32_t drive, uint16_t deviceId) {
  SwitchRequested = false;
  const CFwUpBaseFwInfo* record = Session.FindFwInfo(deviceId);
  if (!record) return;
  const Identification found = Identify(*Session.Command, drive, *record);
  DeviceVersion = found.version;
  DeviceModel = found.model;
  if (found.switchRequested) {
    SwitchRequested = true;
    return;
  }
  Checked = true;
  if (SilentShouldUpdate(*record, DeviceVersion)) Update();
}

void CFwUpBaseSilent::Update() {
  UpdateRunning = true;
  const CFwUpBaseFwInfo* record = Session.FindFwInfo(CurrentDeviceId);
  if (!record) return;
  const std::string complete = FormatText(Session.Text(text_id::kUpdatedTo), {FormatVersion(record->Version)});
  if (Session.RunUpdate(nullptr, CurrentDrive, *record, true, complete)) {
    ExitCode = 0;
    CloseRemovalWarning(Session.OsClass);
  }
  Pending = false;
}

int RunSilentRetries(CFwUpBaseApp& app) {
  const auto first = std::make_unique<CFwUpBaseSilent>(app, false);
  if (!(first->Pending && first->SwitchRequested)) return first->ExitCode;

  // The recorder restarts as a storage device; each attempt identifies it afresh.
  Sleep(kFirstWaitMs);
  int exitCode = 1;
  for (int attempt = 0; attempt < kRetries; ++attempt) {
    const CFwUpBaseSilent retry(app, true);
    exitCode = retry.ExitCode;
    if (retry.Checked) break;
    Sleep(kRetryPauseMs);
  }
  return exitCode;
}
