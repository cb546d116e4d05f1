#pragma once
// The unattended run: its construction identifies the recorder, decides, and updates it with only
// the progress dialog on the screen. The caller reads the outcome and destroys the object.

#include <cstdint>
#include <string>

#include "common/fw_version.h"
#include "win/updater/wizard/updater_session.h"

class CFwUpBaseSilent {
 public:
  // A retry leaves the autoplay-cancel library to the first object, which keeps it loaded.
  CFwUpBaseSilent(CFwUpBaseApp& app, bool retry);
  ~CFwUpBaseSilent() = default;
  CFwUpBaseSilent(const CFwUpBaseSilent&) = delete;
  CFwUpBaseSilent& operator=(const CFwUpBaseSilent&) = delete;

  bool InitFailed = false;
  // Set at the start; cleared when no recorder was found and when an update has run.
  bool Pending = true;
  // The recorder was told to switch to storage mode and will come back.
  bool SwitchRequested = false;
  // The recorder was identified and the decision made.
  bool Checked = false;
  int ExitCode = 1;

 private:
  void Decide(uint32_t drive, uint16_t deviceId);
  void Update();

  UpdaterSession Session;
  uint32_t CurrentDrive;
  uint16_t CurrentDeviceId = 0;
  FwVersion DeviceVersion;
  std::string DeviceModel;
  bool UpdateRunning = false;
};

// The application's unattended run with its retries after a switch to storage mode; the exit code.
int RunSilentRetries(CFwUpBaseApp& app);
