#include "win/updater/wizard/fwup_sheet.h"

#include <dbt.h>

#include <array>

#include "common/text_format.h"
#include "win/updater/app/fwup_app.h"

namespace {

constexpr UINT_PTR kRecorderTimer = 1;

// The texts of the wizard, in the order they are loaded.
constexpr uint32_t kSheetTexts[] = {
    text_id::kTitle,          text_id::kModel,        text_id::kOpening,      text_id::kVersion,
    text_id::kNotUpdate,      text_id::kStorageMismatch, text_id::kUpdateStart, text_id::kUpdateEnd,
    text_id::kStart,          text_id::kNext,         text_id::kCancel,       text_id::kFinish,
    text_id::kRecorder,       text_id::kPreparing,    text_id::kWriting,      text_id::kVerifying,
    text_id::kInvalidFile,    text_id::kDisconnected, text_id::kUpdateFailed, text_id::kNotSupported,
    text_id::kCannotRead,     text_id::kUnsupportedSystem,
};

}  // namespace

CFwUpBaseSheet::CFwUpBaseSheet(CFwUpBaseApp& app, const char* caption, HWND parent, UINT startPage)
    : CPropertySheet(caption, parent, startPage),
      Session(app, true),
      Page1(*this),
      Page21(*this),
      Page22(*this),
      Page23(*this),
      Page3(*this),
      Page4(*this) {
  for (CWizardPage* page : {static_cast<CWizardPage*>(&Page1), static_cast<CWizardPage*>(&Page21),
                            static_cast<CWizardPage*>(&Page22), static_cast<CWizardPage*>(&Page23),
                            static_cast<CWizardPage*>(&Page3), static_cast<CWizardPage*>(&Page4)}) {
    AddPage(page);
  }
  Prepare();
}

void CFwUpBaseSheet::Prepare() {
  if (!Session.Prepare(kSheetTexts, true)) {
    InitFailedFlag = true;
    return;
  }

  CurrentDeviceId = 0;
  LookForRecorder();
  // The wizard puts the active page's title into its caption bar, so every page carries the sheet's.
  for (int i = 0; i < GetPageCount(); ++i) GetPage(i)->SetTitle(Title());
}

CFwUpBaseSheet::~CFwUpBaseSheet() {
  // The update worker ends the sheet itself; the other threads end within seconds or with their box.
  // A thread may still start another while these are waited for, so the list is read under its lock
  // until nothing new has come; after that no thread starts any more.
  for (size_t waited = 0;; ++waited) {
    HANDLE thread = nullptr;
    {
      const ScopedSection lock(ThreadsLock);
      if (waited == Threads.size()) {
        ThreadsClosed = true;
        break;
      }
      thread = Threads[waited].get();
    }
    while (WaitForSingleObject(thread, 100) == WAIT_TIMEOUT) {
      if (const HWND box = win::FindOwnMessageBox()) PostMessageA(box, WM_CLOSE, 0, 0);
    }
  }
}

void CFwUpBaseSheet::LookForRecorder() {
  for (const auto& record : Session.Records) {
    CurrentDrive = Session.Command->FindDevice(record->DeviceID);
    if (CurrentDrive != NotFound) {
      ChooseRecorderPage(CurrentDrive, record->DeviceID);
      break;
    }
  }
}

void CFwUpBaseSheet::LookForSwitchedRecorder() {
  // Gone for now: its arrival is heard from here on.
  CurrentDrive = NotFound;
  for (const auto& record : Session.Records) {
    const uint32_t drive = Session.Command->FindDevice(record->DeviceID);
    if (drive == NotFound) continue;
    CurrentDrive = drive;
    // Still the recorder that was told to switch, not yet gone: telling it again would restart it
    // twice, and what it says while it goes is not worth a page. Its arrival will come.
    std::array<uint8_t, kDeviceStateSize> state{};
    Session.Command->GetDeviceState(drive, state.data(), static_cast<uint32_t>(state.size()));
    if (AsksForStorageMode(state)) return;
    std::string main, sub;
    if (!Session.Command->GetFirmwareVersions(drive, main, sub)) return;
    ChooseRecorderPage(drive, record->DeviceID);
    return;
  }
}

std::string CFwUpBaseSheet::Title() const {
  const CFwUpBaseFwInfo* record = Session.FindFwInfo(CurrentDeviceId);
  const std::string& title = Text(text_id::kTitle);
  return record && record->IsSubTarget ? FormatText("%s - %s", {title, "(SUB CPU)"}) : title;
}

bool CFwUpBaseSheet::IsChainedRun() const { return Session.App.IsChainedRun(); }
int CFwUpBaseSheet::ChainedStage() const { return Session.App.GetChainedStage(); }

PageValues CFwUpBaseSheet::CurrentValues() const {
  PageValues values;
  values.record = Session.FindFwInfo(CurrentDeviceId);
  values.deviceVersion = DeviceVersion;
  values.deviceModel = DeviceModel;
  values.deviceStorageSize = DeviceStorageSize;
  values.chainedRun = IsChainedRun();
  values.chainedStage = ChainedStage();
  return values;
}

void CFwUpBaseSheet::EnableCloseItem(bool enable) {
  if (!hwnd()) return;
  EnableMenuItem(GetSystemMenu(hwnd(), FALSE), SC_CLOSE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

BOOL CFwUpBaseSheet::OnInitDialog() {
  if (InitFailedFlag) return TRUE;
  const BOOL result = CPropertySheet::OnInitDialog();
  SetWindowTextA(hwnd(), Title().c_str());
  // The wizard only ever goes forward.
  if (const HWND back = GetDlgItem(kBackButton)) {
    ShowWindow(back, SW_HIDE);
    EnableWindow(back, FALSE);
  }
  // A recorder told to switch to storage mode before this window existed may have left and come back
  // with nobody to hear it; from now on its arrival reaches the window.
  if (SwitchRequested) LookForSwitchedRecorder();
  if (Session.App.IsKnownRecorderPresent()) Session.App.SendHidModeCommand();
  return result;
}

bool CFwUpBaseSheet::ChooseRecorderPage(uint32_t drive, uint16_t deviceId) {
  if (hwnd()) KillTimer(hwnd(), kRecorderTimer);
  SwitchRequested = false;
  const CFwUpBaseFwInfo* record = Session.FindFwInfo(deviceId);
  if (!record) return true;
  // The pages read the entry of this recorder while they switch.
  CurrentDeviceId = deviceId;

  const Identification found = Identify(*Session.Command, drive, *record);
  DeviceVersion = found.version;
  DeviceModel = found.model;
  if (found.switchRequested) {
    // The recorder leaves and comes back as a storage device; its arrival chooses the page then.
    SwitchRequested = true;
    return true;
  }
  std::optional<uint64_t> storage;
  if (NeedsStorageSize(*record)) {
    uint64_t size = 0;
    if (Session.Command->GetStorageSize(drive, size)) {
      DeviceStorageSize = size;
      storage = size;
    }
  }
  SetActivePage(PageIndex[ChoosePage(*record, DeviceVersion, IsChainedRun(), storage)]);
  return true;
}

LRESULT CFwUpBaseSheet::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DEVICECHANGE: {
      Default(message, wParam, lParam);
      return OnDeviceChange(static_cast<UINT>(wParam), static_cast<DWORD_PTR>(lParam));
    }
    case WM_TIMER:
      if (wParam == kRecorderTimer) {
        KillTimer(hwnd(), kRecorderTimer);
        win::MessageBoxText(hwnd(), Text(text_id::kUpdateFailed), MB_OK);
        return 0;
      }
      break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE && !CloseAllowed) return 0;
      break;
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

BOOL CFwUpBaseSheet::OnDeviceChange(UINT event, DWORD_PTR data) {
  if (UpdateRunning) return TRUE;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  const bool volume = header && header->dbch_devicetype == DBT_DEVTYP_VOLUME;
  const DWORD units = volume ? reinterpret_cast<const DEV_BROADCAST_VOLUME*>(data)->dbcv_unitmask : 0;

  if (event == DBT_DEVICEARRIVAL) {
    if (volume && CurrentDrive == NotFound) {
      for (uint32_t index = 0; index < 26; ++index) {
        if (!(units & (1u << index))) continue;
        for (const auto& record : Session.Records) {
          const uint32_t drive = Session.Command->CheckDrive(index, record->DeviceID);
          if (drive == NotFound) continue;
          CurrentDrive = drive;
          // A box about the recorder's absence is out of date now.
          if (const HWND box = win::FindOwnMessageBox()) PostMessageA(box, WM_CLOSE, 0, 0);
          ChooseRecorderPage(drive, record->DeviceID);
          for (int i = 0; i < GetPageCount(); ++i) static_cast<CWizardPage*>(GetPage(i))->RefreshTexts();
          break;
        }
      }
    }
    Session.App.ClearHidCommandSent();
  } else if (event == DBT_DEVICEREMOVECOMPLETE && volume) {
    for (uint32_t index = 0; index < 26; ++index) {
      if (!(units & (1u << index)) || CurrentDrive == NotFound) continue;
      if (!Session.Command->IsSameDrive(index, CurrentDrive, CurrentDeviceId)) continue;
      CurrentDrive = NotFound;
      SetActivePage(PageIndex[kPageOpening]);
      StartThread(CloseRemovalWarningThread);
      StartThread(ReportDisconnect);
    }
  } else if (event == DBT_DEVNODES_CHANGED) {
    if (Session.App.IsKnownRecorderPresent()) Session.App.SendHidModeCommand();
  }
  return TRUE;
}

bool CFwUpBaseSheet::StartThread(LPTHREAD_START_ROUTINE routine) {
  const ScopedSection lock(ThreadsLock);
  if (ThreadsClosed) return false;
  win::ScopedHandle thread(CreateThread(nullptr, 0, routine, this, 0, nullptr));
  if (!thread) return false;
  Threads.push_back(std::move(thread));
  return true;
}

void CFwUpBaseSheet::StartUpdate() {
  // A double click or a repeated Enter asks again before the worker has greyed the buttons: the
  // second request would wait for the first one's device lock and end the wizard in mid-write.
  if (UpdateRunning.exchange(true)) return;
  EnableWindow(GetDlgItem(kNextButton), FALSE);
  EnableWindow(GetDlgItem(kCancelButton), FALSE);
  if (!StartThread(UpdateWorker)) {
    win::MessageBoxText(hwnd(), Text(text_id::kUpdateFailed), MB_OK | MB_ICONERROR);
    PostMessageA(hwnd(), WM_CLOSE, 0, 0);
  }
}

DWORD WINAPI CFwUpBaseSheet::CloseRemovalWarningThread(LPVOID self) {
  CloseRemovalWarning(static_cast<CFwUpBaseSheet*>(self)->Session.OsClass);
  return 0;
}

DWORD WINAPI CFwUpBaseSheet::ReportDisconnect(LPVOID context) {
  auto* self = static_cast<CFwUpBaseSheet*>(context);
  if (!win::FindOwnMessageBox() && !self->SwitchRequested) {
    win::MessageBoxText(nullptr, self->Text(text_id::kDisconnected), MB_OK);
  }
  return 0;
}

DWORD WINAPI CFwUpBaseSheet::UpdateWorker(LPVOID self) {
  static_cast<CFwUpBaseSheet*>(self)->RunUpdateOnWorker();
  return 0;
}

void CFwUpBaseSheet::RunUpdateOnWorker() {
  const HWND next = GetDlgItem(kNextButton);
  const HWND cancel = GetDlgItem(kCancelButton);
  EnableWindow(next, FALSE);
  EnableWindow(cancel, FALSE);
  EnableCloseItem(false);

  bool success = false;
  if (const CFwUpBaseFwInfo* record = Session.FindFwInfo(CurrentDeviceId)) {
    success = Session.RunUpdate(hwnd(), CurrentDrive, *record, false);
  }
  if (success) StartThread(CloseRemovalWarningThread);

  EnableWindow(next, TRUE);
  EnableWindow(cancel, TRUE);
  EnableCloseItem(true);

  if (success && ChainedStage() != 1) {
    SetActivePage(PageIndex[kPageUpdateEnd]);
    return;
  }
  if (success) WriteCompletionMarker();
  PostMessageA(hwnd(), WM_CLOSE, 0, 0);
}
