#include "win/wrapper/tests/duoflash_driver.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>

namespace duo {

namespace {

constexpr UINT kAnswerMs = 2000;

std::vector<wchar_t> EnvironmentWith(const Environment& values) {
  std::vector<wchar_t> block;
  if (const LPWCH current = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = current; *entry; entry += std::wcslen(entry) + 1) {
      const std::wstring text(entry);
      const bool replaced = std::any_of(values.begin(), values.end(), [&](const auto& value) {
        return text.size() > value.first.size() && text[value.first.size()] == L'=' &&
               _wcsnicmp(text.c_str(), value.first.c_str(), value.first.size()) == 0;
      });
      if (!replaced) block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    FreeEnvironmentStringsW(current);
  }
  for (const auto& [name, value] : values) {
    const std::wstring entry = name + L"=" + value;
    block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
  }
  block.push_back(L'\0');
  return block;
}

struct WindowSearch {
  DWORD process;
  bool visibleOnly;
  std::vector<TopWindow>* found;
};

BOOL CALLBACK Collect(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process) return TRUE;
  const bool visible = IsWindowVisible(window) != FALSE;
  if (search->visibleOnly && !visible) return TRUE;
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  // Read without a message, so that a busy program cannot make its window look untitled.
  wchar_t title[256] = {};
  InternalGetWindowText(window, title, 256);
  search->found->push_back(TopWindow{window, className, title, visible});
  return TRUE;
}

BOOL CALLBACK CollectStaticTexts(HWND child, LPARAM texts) {
  wchar_t className[16] = {};
  GetClassNameW(child, className, 16);
  if (_wcsicmp(className, L"Static") != 0) return TRUE;
  const std::wstring text = TextOf(child);
  if (!text.empty()) reinterpret_cast<std::vector<std::wstring>*>(texts)->push_back(text);
  return TRUE;
}

bool IsSheet(HWND window) { return GetDlgItem(window, Sheet::kNext) != nullptr; }

}  // namespace

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring WindowsPath(const std::string& path) {
  std::wstring result = Wide(path.starts_with('/') ? "Z:" + path : path);
  std::replace(result.begin(), result.end(), L'/', L'\\');
  return result;
}

bool Until(const std::function<bool()>& done, DWORD limitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start > limitMs) return false;
    Sleep(kLookEveryMs);
  }
}

Process::Process(const std::wstring& program, const std::wstring& arguments, const Environment& environment) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> block = EnvironmentWith(environment);
  job_.Reset(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job_ || !SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    error_ = "no job for the program: error " + std::to_string(GetLastError());
    return;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT,
                      block.data(), nullptr, &startup, &info)) {
    error_ = "cannot start " + Utf8(commandLine) + ": error " + std::to_string(GetLastError());
    return;
  }
  const win::ScopedHandle thread(info.hThread);
  process_.Reset(info.hProcess);
  id_ = info.dwProcessId;
  // In the job before it runs, so that whatever it starts is in the job as well.
  if (!AssignProcessToJobObject(job_.get(), process_.get())) {
    error_ = "the program cannot join its job: error " + std::to_string(GetLastError());
    TerminateProcess(process_.get(), 0xDEAD);
    process_.Reset();
    return;
  }
  ResumeThread(thread.get());
}

Process::~Process() { Kill(); }

bool Process::Running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

std::optional<DWORD> Process::WaitExit(DWORD limitMs, const std::function<void()>& look) const {
  if (!process_) return std::nullopt;
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(process_.get(), kLookEveryMs) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > limitMs) return std::nullopt;
    if (look) look();
  }
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

void Process::Kill() {
  // The stages it started go with the job; the program itself is waited for.
  if (job_) TerminateJobObject(job_.get(), 0xDEAD);
  if (process_) WaitForSingleObject(process_.get(), 10000);
}

std::vector<TopWindow> WindowsOf(DWORD processId, bool visibleOnly) {
  std::vector<TopWindow> found;
  WindowSearch search{processId, visibleOnly, &found};
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
  return found;
}

std::vector<DWORD> ChildProcessesNamed(DWORD parentId, const std::wstring& exeName) {
  std::vector<DWORD> ids;
  const win::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == parentId && _wcsicmp(entry.szExeFile, exeName.c_str()) == 0) {
      ids.push_back(entry.th32ProcessID);
    }
  }
  return ids;
}

bool ProcessRunning(DWORD processId) {
  const win::ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           kAnswerMs, &copied)) {
    return {};
  }
  text.resize(std::min<size_t>(copied, length));
  return text;
}

HWND FindMessageBox(DWORD processId, const std::wstring& title) {
  for (const TopWindow& window : WindowsOf(processId)) {
    if (window.className == L"#32770" && window.title == title && !IsSheet(window.handle)) return window.handle;
  }
  return nullptr;
}

std::wstring MessageBoxText(HWND box) {
  std::vector<std::wstring> texts;
  EnumChildWindows(box, CollectStaticTexts, reinterpret_cast<LPARAM>(&texts));
  std::wstring joined;
  for (const std::wstring& text : texts) joined += text;
  return joined;
}

void PressOk(HWND box) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

HWND FindSheet(DWORD processId, bool visibleOnly) {
  for (const TopWindow& window : WindowsOf(processId, visibleOnly)) {
    if (window.className == L"#32770" && IsSheet(window.handle)) return window.handle;
  }
  return nullptr;
}

HWND Sheet::PageWindow() const {
  DWORD_PTR page = 0;
  if (!SendMessageTimeoutW(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &page)) return nullptr;
  return reinterpret_cast<HWND>(page);
}

int Sheet::Page() const {
  const HWND page = PageWindow();
  if (!page) return -1;
  DWORD_PTR index = 0;
  if (!SendMessageTimeoutW(sheet_, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0, SMTO_ABORTIFHUNG, kAnswerMs,
                           &index)) {
    return -1;
  }
  return static_cast<int>(static_cast<LONG_PTR>(index));
}

std::wstring Sheet::PageText(int control) const {
  const HWND page = PageWindow();
  const HWND item = page ? GetDlgItem(page, control) : nullptr;
  return item ? TextOf(item) : std::wstring();
}

RECT Sheet::PageControlRect(int control) const {
  RECT rect{};
  const HWND page = PageWindow();
  const HWND item = page ? GetDlgItem(page, control) : nullptr;
  if (!item) return rect;
  GetWindowRect(item, &rect);
  MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

Sheet::Button Sheet::ButtonState(int control) const {
  const HWND button = GetDlgItem(sheet_, control);
  Button state;
  if (!button) return state;
  state.exists = true;
  state.shown = IsWindowVisible(button) != FALSE;
  state.showable = (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE) != 0;
  state.enabled = IsWindowEnabled(button) != FALSE;
  state.text = TextOf(button);
  GetWindowRect(button, &state.rect);
  return state;
}

bool Sheet::Press(int control) const {
  const Button state = ButtonState(control);
  if (!state.shown || !state.enabled) return false;
  const WPARAM which = control == kNext ? PSBTN_NEXT : control == kFinish ? PSBTN_FINISH : PSBTN_CANCEL;
  return PostMessageW(sheet_, PSM_PRESSBUTTON, which, 0) != FALSE;
}

StageRun DriveStage(DWORD wrapperId, int stage, DWORD limitMs) {
  StageRun run;
  const std::wstring name = L"st" + std::to_wstring(stage) + L"Updata";
  const DWORD start = GetTickCount();
  const auto timeLeft = [&] { return GetTickCount() - start <= limitMs; };

  DWORD id = 0;
  while (timeLeft() && ProcessRunning(wrapperId)) {
    const std::vector<DWORD> ids = ChildProcessesNamed(wrapperId, name + L".exe");
    if (!ids.empty()) {
      id = ids.front();
      break;
    }
    Sleep(kLookEveryMs);
  }
  if (id == 0) return run;
  run.seen = true;
  const win::ScopedHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process) return run;

  // Each page is pressed once per visit: a press is answered by another page, a progress dialog or
  // the stage's end, and pressing again meanwhile would be a second click.
  int pressedOn = -1;
  while (WaitForSingleObject(process.get(), kLookEveryMs) == WAIT_TIMEOUT) {
    if (!timeLeft()) return run;
    if (const HWND box = FindMessageBox(id, name)) {
      run.boxes.push_back(MessageBoxText(box));
      PressOk(box);
      Until([&] { return !IsWindow(box); }, 5000);
      continue;
    }
    const HWND handle = FindSheet(id, true);
    if (!handle) continue;
    const Sheet sheet(handle);
    const int page = sheet.Page();
    if (page == pressedOn || page < 0) continue;
    // Offered (1) and the last warning (4) go on; not required (2), another storage size (3) and
    // the final page (5) end the stage with the Cancel button, whatever it is called there.
    const int button = (page == 1 || page == 4) ? Sheet::kNext : (page == 2 || page == 3 || page == 5) ? Sheet::kCancel : 0;
    if (button == 0) continue;
    const std::wstring text = sheet.ButtonState(button).text;
    if (sheet.Press(button)) {
      pressedOn = page;
      run.pressed.push_back(text);
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  run.exitCode = code;
  return run;
}

}  // namespace duo
