#pragma once
// The wizard window: everything that belongs to no single page. It prepares the run, picks the page
// for a recorder that is found, follows the recorder as it is plugged in and out, and runs the update
// on a worker thread.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/wizard_rules.h"
#include "win/framework/critical_section.h"
#include "win/framework/dialog.h"
#include "win/framework/handles.h"
#include "win/updater/wizard/updater_session.h"
#include "win/updater/wizard/wizard_pages.h"

class CFwUpBaseSheet : public win::CPropertySheet {
 public:
  CFwUpBaseSheet(CFwUpBaseApp& app, const char* caption, HWND parent, UINT startPage);
  ~CFwUpBaseSheet() override;

  bool InitFailed() const { return InitFailedFlag; }

  // For the pages.
  const std::string& Text(uint32_t id) const { return Session.Text(id); }
  PageValues CurrentValues() const;
  bool IsChainedRun() const;
  void SetCloseAllowed(bool allowed) { CloseAllowed = allowed; }
  void EnableCloseItem(bool enable);
  void StartUpdate();
  void WriteCompletionMarker() const { Session.WriteCompletionMarker(); }
  int ChainedStage() const;
  uint32_t GetCurrentDrive() const { return CurrentDrive; }

 protected:
  BOOL OnInitDialog() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  virtual BOOL OnDeviceChange(UINT event, DWORD_PTR data);

 private:
  void Prepare();
  // The caption: text 10000, marked for a sub-processor entry.
  std::string Title() const;
  // The first drive with a recorder of one of the records, and its page; NotFound when none.
  void LookForRecorder();
  // After a switch to storage mode asked for during the preparation: the recorder, if it is back
  // and answers as a storage device; nothing while it is still on its way out.
  void LookForSwitchedRecorder();
  // The page for the recorder on `drive`; always true.
  bool ChooseRecorderPage(uint32_t drive, uint16_t deviceId);
  // False when the thread could not be started, or the sheet is going.
  bool StartThread(LPTHREAD_START_ROUTINE routine);
  static DWORD WINAPI UpdateWorker(LPVOID self);
  static DWORD WINAPI CloseRemovalWarningThread(LPVOID self);
  static DWORD WINAPI ReportDisconnect(LPVOID self);
  void RunUpdateOnWorker();

  UpdaterSession Session;
  CWizard1Opening Page1;
  CWizard21Version Page21;
  CWizard22NotUpdate Page22;
  CWizard23NotUpdate Page23;
  CWizard3UpdateStart Page3;
  CWizard4UpdateEnd Page4;
  int PageIndex[kWizardPageCount] = {0, 1, 2, 3, 4, 5};

  bool InitFailedFlag = false;
  uint32_t CurrentDrive = NotFound;
  FwVersion DeviceVersion;
  std::string DeviceModel;
  uint64_t DeviceStorageSize = 0;
  std::atomic<bool> UpdateRunning{false};
  // Read by the disconnect report on its own thread.
  std::atomic<bool> SwitchRequested{false};
  uint16_t CurrentDeviceId = 0;
  bool CloseAllowed = true;

  // The threads this sheet started; each is waited for before the sheet goes. The update worker
  // starts threads too, hence the lock.
  CMyCriticalSection ThreadsLock;
  std::vector<win::ScopedHandle> Threads;
  bool ThreadsClosed = false;
};
