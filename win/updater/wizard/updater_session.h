#pragma once
// What the wizard and the unattended run prepare alike and tear down in the same order: the payload
// in the temporary folder, the suppression of the system's AutoPlay window, the texts, the firmware
// records and the command layer.

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/fw_info.h"
#include "common/wizard_rules.h"
#include "win/framework/handles.h"
#include "win/updater/payload/resource_data.h"
#include "win/updater/scsi/scsi_command.h"

class CFwUpBaseApp;

class UpdaterSession {
 public:
  // A session that must not touch the autoplay-cancel library (a retry while another session holds
  // it loaded) neither writes nor loads it.
  UpdaterSession(CFwUpBaseApp& app, bool ownsAutoplayLibrary);
  ~UpdaterSession();
  UpdaterSession(const UpdaterSession&) = delete;
  UpdaterSession& operator=(const UpdaterSession&) = delete;

  // The payload, AutoPlay suppression, the texts `textIds`, the system check, the records and the
  // command layer, in this order. False once a step failed; the user has been told why. With
  // `storageCheckNeedsPassThrough`, a first record with a storage check forces the pass-through
  // (only it can read the storage size); otherwise the user's rights pick the transport.
  bool Prepare(std::span<const uint32_t> textIds, bool storageCheckNeedsPassThrough);

  const std::string& Text(uint32_t id) const;
  const CFwUpBaseFwInfo* FindFwInfo(uint16_t deviceId) const { return ::FindFwInfo(Records, deviceId); }
  // Updates the recorder on `drive` with the record's image under a modal progress dialog; true on
  // success. The wizard's dialog stands over `parent`; the unattended run's stands alone in the middle
  // of the desktop and ends with `completeText`.
  bool RunUpdate(HWND parent, uint32_t drive, const CFwUpBaseFwInfo& record, bool centerOnDesktop,
                 const std::string& completeText = {}) const;
  void WriteCompletionMarker() const;

  CFwUpBaseApp& App;
  CResourceData Resources;
  uint16_t OsClass = 0;
  FwInfoArray Records;
  std::unique_ptr<CScsiCommand> Command;

 private:
  void StartAutoplaySuppression();
  void LoadTexts(std::span<const uint32_t> ids);
  bool CheckSystem();
  void RegisterRunIdentity();
  void RemoveRunIdentity();

  bool ownsAutoplayLibrary_;
  win::ScopedModule autoplayLibrary_;
  std::map<uint32_t, std::string> texts_;
};

// What identification of a recorder found on a drive tells the wizard and the unattended run.
struct Identification {
  FwVersion version;
  std::string model;
  bool switchRequested = false;  // the recorder was told to come back as a storage device
};
Identification Identify(CScsiCommand& command, uint32_t drive, const CFwUpBaseFwInfo& record);

// Closes the warning about a device removed without notice that older systems show when the recorder
// restarts after its update. Returns after about ten seconds at most, at once on other systems.
void CloseRemovalWarning(uint16_t osClass);
