#include "win/wrapper/wfwup_sheet.h"

#include <cwchar>

#include "common/wizard_rules.h"
#include "win/shared/gloss_string.h"
#include "win/wrapper/wfwup_app.h"
#include "win/wrapper/wrapper_rules.h"

namespace {

constexpr UINT_PTR kStageTimer = 1;
constexpr UINT kStagePollMs = 500;

// The identity under which the autoplay-cancel library's object answers the system from the user's
// session.
constexpr wchar_t kRunIdentity[] = L"{396103E0-A98D-4e90-AD49-A6AFE48A6BA6}";

constexpr uint32_t kSheetTexts[] = {
    wrapper_text::kTitle,        wrapper_text::kOpening,      wrapper_text::kConnect, wrapper_text::kFirstStageDone,
    wrapper_text::kConnectAgain, wrapper_text::kUpdateFailed, wrapper_text::kNext,    wrapper_text::kCancel,
    wrapper_text::kFinish,       wrapper_text::kUnsupportedSystem,
};

OSVERSIONINFOW CurrentOsVersion() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExW(&version);
  return version;
}

// Windows XP and later show the AutoPlay window that the library keeps away.
bool SystemNeedsAutoplayLibrary() {
  const OSVERSIONINFOW version = CurrentOsVersion();
  return version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion != 0);
}

// The program's file name with the backslash before it.
std::wstring BackslashAndFileName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring name(path, length);
  const size_t slash = name.find_last_of(L'\\');
  return slash == std::wstring::npos ? L"\\" + name : name.substr(slash);
}

// The string's size is given without its terminating null, as the entries have always been written.
bool SetStringValue(const std::wstring& keyName, const wchar_t* valueName, const wchar_t* value) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const win::ScopedRegKey key(raw);
  const DWORD size = static_cast<DWORD>(2 * std::wcslen(value));
  return RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), size) == ERROR_SUCCESS;
}

void DeleteAppIdSubkey(const std::wstring& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID", 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS) return;
  const win::ScopedRegKey key(raw);
  RegDeleteKeyW(key.get(), name.c_str());
}

bool FileExists(const std::wstring& path) {
  if (path.empty()) return false;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

}  // namespace

CWFwUpBaseSheet::CWFwUpBaseSheet(CWFwUpBaseApp& app, const wchar_t* caption, HWND parent, UINT startPage)
    : CPropertySheet(caption, parent, startPage),
      App(app),
      Page1(*this),
      Page2(*this),
      Page3(*this),
      Resources(SystemNeedsAutoplayLibrary()) {
  // No help anywhere: neither the sheet nor a page asks for a Help button.
  AddPage(&Page1);
  AddPage(&Page2);
  AddPage(&Page3);
  Prepare();
}

CWFwUpBaseSheet::~CWFwUpBaseSheet() {
  if (AutoplayLibrary) {
    if (const auto stop = win::BindExport<void(WINAPI*)()>(AutoplayLibrary.get(), "StopAutoPlayCancel")) stop();
    AutoplayLibrary.Reset();
  }
  if (OsClass > 4) UnregisterAppId();
  Resources.RemoveFiles();
  CloseStageHandles();
}

void CWFwUpBaseSheet::Prepare() {
  StageRunning = false;
  CloseAllowed = true;
  AutoplayLibrary.Reset();
  StartupInfo = {};
  ProcessInfo = {};
  StageExitCode = 0;
  StageNo = 0;
  OsClass = 0;

  if (!Resources.Prepare()) {
    InitFailed = true;
    return;
  }
  DeleteStaleMarker();
  const OSVERSIONINFOW version = CurrentOsVersion();
  OsClass = OsClassFor(version.dwMajorVersion, version.dwMinorVersion);
  StartAutoplaySuppression();
  const bool unsupported = App.GetOsVersion().dwMajorVersion < 5;
  if (unsupported) InitFailed = true;
  LoadTexts();
  if (unsupported) win::MessageBoxText(nullptr, Text(wrapper_text::kUnsupportedSystem), MB_OK | MB_ICONERROR);
}

// A marker left by an earlier run that was interrupted would otherwise count as this run's result.
void CWFwUpBaseSheet::DeleteStaleMarker() {
  if (FileExists(Resources.CompletionMarkerPath())) DeleteFileW(Resources.CompletionMarkerPath().c_str());
}

void CWFwUpBaseSheet::StartAutoplaySuppression() {
  if (OsClass < 3) return;
  if (OsClass >= 5) RegisterAppId();
  AutoplayLibrary.Reset(LoadLibraryW(Resources.AutoplayLibraryPath().c_str()));
  // Without the library the AutoPlay window is simply not kept away.
  if (!AutoplayLibrary) return;
  if (const auto start = win::BindExport<void(WINAPI*)()>(AutoplayLibrary.get(), "StartAutoPlayCancel2")) start();
}

void CWFwUpBaseSheet::LoadTexts() {
  Texts = LoadWideGlossaryTexts(Resources.GlossaryLibraryPath().c_str(), kSheetTexts);
  // The wizard puts the active page's title into its caption bar whenever it changes pages.
  for (CWWizardPage* page : {static_cast<CWWizardPage*>(&Page1), static_cast<CWWizardPage*>(&Page2),
                             static_cast<CWWizardPage*>(&Page3)}) {
    page->SetTitle(Text(wrapper_text::kTitle));
  }
}

const std::wstring& CWFwUpBaseSheet::Text(uint32_t id) const {
  static const std::wstring empty;
  const auto found = Texts.find(id);
  return found == Texts.end() ? empty : found->second;
}

void CWFwUpBaseSheet::RegisterAppId() {
  if (!SetStringValue(std::wstring(L"AppID\\") + kRunIdentity, L"RunAs", L"Interactive User")) return;
  SetStringValue(L"AppID" + BackslashAndFileName(), L"AppID", kRunIdentity);
}

void CWFwUpBaseSheet::UnregisterAppId() {
  DeleteAppIdSubkey(kRunIdentity);
  DeleteAppIdSubkey(BackslashAndFileName().substr(1));
}

BOOL CWFwUpBaseSheet::OnInitDialog() {
  if (InitFailed) return TRUE;
  const BOOL result = CPropertySheet::OnInitDialog();
  SetWindowTextW(hwnd(), Text(wrapper_text::kTitle).c_str());
  // The wizard only ever goes forward.
  if (const HWND back = GetDlgItem(kBackButton)) {
    ShowWindow(back, SW_HIDE);
    EnableWindow(back, FALSE);
  }
  return result;
}

void CWFwUpBaseSheet::EnableCloseItem(bool enable) {
  if (!hwnd()) return;
  EnableMenuItem(GetSystemMenu(hwnd(), FALSE), SC_CLOSE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

void CWFwUpBaseSheet::RunStage() {
  const std::wstring& program = StageNo == 1 ? Resources.Stage1Path() : Resources.Stage2Path();
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring commandLine = StageCommandLine(StageNo);
  CloseStageHandles();
  StartupInfo = {};
  StartupInfo.cb = sizeof StartupInfo;
  StageExitCode = 0;
  ShowWindow(hwnd(), SW_HIDE);
  // A stage that cannot start is not reported here: the first poll finds it ended without a marker,
  // and the run ends.
  CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &StartupInfo,
                 &ProcessInfo);
  SetTimer(hwnd(), kStageTimer, kStagePollMs, nullptr);
  StageRunning = true;
}

void CWFwUpBaseSheet::PollStage() {
  GetExitCodeProcess(ProcessInfo.hProcess, &StageExitCode);
  // The process handle says whether the stage is still there; its exit code cannot, because a stage
  // may end with the very code that stands for "still active".
  if (ProcessInfo.hProcess && WaitForSingleObject(ProcessInfo.hProcess, 0) == WAIT_TIMEOUT) return;

  CloseStageHandles();
  KillTimer(hwnd(), kStageTimer);
  StageRunning = false;

  const bool marker = FileExists(Resources.CompletionMarkerPath());
  if (AfterStageEnded(StageNo, marker) == AfterStage::ShowSecondPage) {
    DeleteFileW(Resources.CompletionMarkerPath().c_str());
    ShowWindow(hwnd(), SW_SHOW);
    return;
  }
  EndRun();
}

void CWFwUpBaseSheet::EndRun() {
  EnableCloseItem(true);
  CloseAllowed = true;
  // The sheet is still hidden: the program ends without showing another page.
  PostMessageW(hwnd(), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

void CWFwUpBaseSheet::CloseStageHandles() {
  for (HANDLE* handle : {&ProcessInfo.hProcess, &ProcessInfo.hThread}) {
    if (*handle) CloseHandle(*handle);
    *handle = nullptr;
  }
}

LRESULT CWFwUpBaseSheet::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      // The default handling follows for every timer.
      if (wParam == kStageTimer) PollStage();
      break;
    case WM_SYSCOMMAND:
      if (!CloseAllowed && wParam == SC_CLOSE) return 0;
      break;
    case WM_DESTROY: {
      const LRESULT result = Default(message, wParam, lParam);
      // A stage still running is left to finish on its own; only our hold on it goes.
      if (StageRunning) {
        KillTimer(hwnd(), kStageTimer);
        CloseStageHandles();
      }
      return result;
    }
    default:
      break;
  }
  return Default(message, wParam, lParam);
}
