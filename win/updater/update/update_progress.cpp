#include "win/updater/update/update_progress.h"

#include <commctrl.h>

#include <cstdio>

#include "win/updater/update/update_firmware.h"

CUpdateProgress::CUpdateProgress(HWND parent, bool centerOnDesktop, HMODULE module)
    : CDialog(IDD_UPDATE_PROGRESS, parent, module), centerOnDesktop_(centerOnDesktop), parent_(parent) {}

CUpdateProgress::~CUpdateProgress() {
  // The worker ends the dialog as its last act; it is waited for so that it never outlives the object.
  if (worker_) WaitForSingleObject(worker_.get(), INFINITE);
}

void CUpdateProgress::SetErrorTexts(std::string failed, std::string refused) {
  failedText_ = std::move(failed);
  refusedText_ = std::move(refused);
}

void CUpdateProgress::SetTexts(std::string title, std::string preparing, std::string writing, std::string verifying,
                               std::string complete) {
  title_ = std::move(title);
  stages_[0] = std::move(preparing);
  stages_[1] = std::move(writing);
  stages_[2] = std::move(verifying);
  stages_[3] = std::move(complete);
}

void CUpdateProgress::SetJob(uint32_t drive, TargetCode target, uint32_t startAddress, uint32_t length,
                             std::span<const uint8_t> image, bool verify) {
  drive_ = drive;
  target_ = target;
  startAddress_ = startAddress;
  length_ = length;
  image_ = image;
  verify_ = verify;
}

BOOL CUpdateProgress::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowTextA(hwnd(), title_.c_str());
  if (centerOnDesktop_) {
    // A silent run has no window of its own: the dialog stands alone in the middle of the desktop.
    RECT desktop{};
    RECT dialog{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(hwnd(), &dialog);
    const int width = dialog.right - dialog.left;
    const int height = dialog.bottom - dialog.top;
    SetWindowPos(hwnd(), HWND_TOPMOST, (desktop.right - width) / 2, (desktop.bottom - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_SHOWWINDOW);
  } else {
    SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  worker_.Reset(CreateThread(nullptr, 0, Worker, this, 0, nullptr));
  if (!worker_) {
    // Nothing has been sent to the recorder: the user learns that the update did not run.
    win::MessageBoxText(hwnd(), failedText_, MB_OK | MB_ICONERROR);
    EndDialog(0);
  }
  return TRUE;
}

BOOL CUpdateProgress::RunModal() {
  if (DoModal() == -1) {
    // The dialog could not be made (no memory, no desktop): the engine never ran.
    win::MessageBoxText(parent_, failedText_, MB_OK | MB_ICONERROR);
    return FALSE;
  }
  return Result();
}

void CUpdateProgress::DoDataExchange(win::DataExchange& exchange) {
  exchange.Text(IDC_PERCENT_TEXT, percentText_);
  exchange.Text(IDC_STAGE_TEXT, stageText_);
}

DWORD WINAPI CUpdateProgress::Worker(LPVOID self) {
  static_cast<CUpdateProgress*>(self)->Run();
  return 0;
}

void CUpdateProgress::Run() {
  BOOL result = FALSE;
  {
    // The engine, its command layer and its service connection belong to this thread alone.
    CUpdateFirmware engine(hwnd());
    if (engine.ViaService()) {
      title_ += "(Service)";
      SetWindowTextA(hwnd(), title_.c_str());
    }
    result = engine.RunUpdate(drive_, target_, startAddress_, length_, image_, verify_, centerOnDesktop_);
  }
  result_ = result;
  // Posted after the engine's last message, so the dialog has shown everything before it closes.
  PostMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDCLOSE, BN_CLICKED), 0);
}

INT_PTR CUpdateProgress::OnMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
  switch (message) {
    case WM_UPDATE_PROGRESS: {
      SendDlgItemMessageA(hwnd(), IDC_PROGRESS_BAR, PBM_SETPOS, wParam, 0);
      char percent[16];
      std::snprintf(percent, sizeof percent, "%d%%", static_cast<int>(wParam));
      percentText_ = percent;
      break;
    }
    case WM_UPDATE_STAGE:
      if (wParam >= kStagePreparing && wParam <= kStageComplete) stageText_ = stages_[wParam - 1];
      break;
    case WM_UPDATE_ERROR: {
      const std::string& text = wParam == kUpdateFailed ? failedText_ : wParam == kUpdateRefused ? refusedText_ : "";
      if (!text.empty()) {
        // The engine's close arrives while the box is up; ending under it would hand the window
        // below back to the user with the box still open.
        boxOpen_ = true;
        win::MessageBoxText(hwnd(), text, MB_OK | MB_ICONERROR);
        boxOpen_ = false;
        if (closePending_) EndDialog(1);
      }
      break;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCLOSE) {
        handled = true;
        if (boxOpen_) {
          closePending_ = true;
        } else {
          EndDialog(1);
        }
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
  handled = true;
  UpdateData(FALSE);
  return TRUE;
}
