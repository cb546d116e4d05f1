#include "win/updater/tests/monoflash_driver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "sim/state_file.h"

namespace e2e {

namespace {

// A window of a process that is busy (an update thread holding it, a box on its thread) still has
// to answer within this time, or it counts as silent.
constexpr UINT kAnswerMs = 2000;
constexpr DWORD kLookEveryMs = 25;

bool StartsWithName(const char* entry, const std::string& name) {
  return _strnicmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=';
}

// This process's environment with `values` set, as a block for CreateProcess.
std::vector<char> EnvironmentWith(const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<char> block;
  if (const LPCH current = GetEnvironmentStringsA()) {
    for (const char* entry = current; *entry; entry += std::strlen(entry) + 1) {
      const bool replaced =
          std::any_of(values.begin(), values.end(), [&](const auto& value) { return StartsWithName(entry, value.first); });
      if (!replaced) block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
    }
    FreeEnvironmentStringsA(current);
  }
  for (const auto& [name, value] : values) {
    const std::string entry = name + "=" + value;
    block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
  }
  block.push_back('\0');
  return block;
}

struct WindowSearch {
  DWORD process;
  std::vector<TopWindow>* found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process || !IsWindowVisible(window)) return TRUE;
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  // The caption of another process's window is read without a message, so a busy program cannot
  // make a window look untitled; one that closes meanwhile is not counted.
  char title[256] = {};
  GetWindowTextA(window, title, sizeof title);
  if (!IsWindowVisible(window)) return TRUE;
  search->found->push_back(TopWindow{window, className, title});
  return TRUE;
}

BOOL CALLBACK CollectStaticTexts(HWND child, LPARAM texts) {
  char className[16] = {};
  GetClassNameA(child, className, sizeof className);
  if (_stricmp(className, "Static") != 0) return TRUE;
  const std::string text = TextOf(child);
  if (!text.empty()) reinterpret_cast<std::vector<std::string>*>(texts)->push_back(text);
  return TRUE;
}

}  // namespace

std::string WindowsPath(const std::string& path) {
  std::string result = path.starts_with('/') ? "Z:" + path : path;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

std::string TempFolder() {
  char folder[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, folder);
  return folder;
}

RecorderFile::RecorderFile(const sim::Recorder& initial) {
  char name[MAX_PATH] = {};
  // Makes the file, so that no other case can take the name.
  GetTempFileNameA(TempFolder().c_str(), "zte", 0, name);
  path_ = name;
  std::string error;
  EXPECT_TRUE(sim::RecorderStore(path_).Create(initial, error)) << error;
}

RecorderFile::~RecorderFile() { DeleteFileA(path_.c_str()); }

sim::Recorder RecorderFile::Read() const {
  sim::Recorder recorder;
  std::string error;
  EXPECT_TRUE(sim::RecorderStore(path_).Read(recorder, error)) << error;
  return recorder;
}

void RecorderFile::Change(const std::function<void(sim::Recorder&)>& change) const {
  std::string error;
  EXPECT_TRUE(sim::RecorderStore(path_).Update([&](sim::Recorder& r) { return change(r), true; }, error)) << error;
}

std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &length)) return {};
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           kAnswerMs, &copied)) {
    return {};
  }
  text.resize(std::min<size_t>(copied, length));
  return text;
}

Monoflash::Monoflash(const std::string& program, const std::string& arguments, const std::string& recorderFile,
                     const std::string& secondRecorderFile) {
  std::string commandLine = "\"" + WindowsPath(program) + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  // The second is always set, if only to nothing, so that no run inherits one from its caller.
  std::vector<char> environment = EnvironmentWith({{"ZT_SIM_RECORDER", recorderFile},
                                                   {"ZT_SIM_DRIVE", "R"},
                                                   {"ZT_SIM_RECORDER2", secondRecorderFile},
                                                   {"ZT_SIM_DRIVE2", "S"}});
  // The program lives in a job that ends with this process, so that not even a test run stopped
  // from outside leaves it behind holding the updater's single-instance mutex.
  job_.Reset(CreateJobObjectA(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job_ || !SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    ADD_FAILURE() << "no job for the program: error " << GetLastError();
    return;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, environment.data(),
                      nullptr, &startup, &info)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
    return;
  }
  const win::ScopedHandle thread(info.hThread);
  process_.Reset(info.hProcess);
  id_ = info.dwProcessId;
  if (!AssignProcessToJobObject(job_.get(), process_.get())) {
    ADD_FAILURE() << "the program cannot join its job: error " << GetLastError();
    TerminateProcess(process_.get(), 0xDEAD);
    process_.Reset();
    return;
  }
  ResumeThread(thread.get());
}

Monoflash::~Monoflash() { Kill(); }

bool Monoflash::Running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

void Monoflash::Kill() {
  if (!Running()) return;
  TerminateProcess(process_.get(), 0xDEAD);
  WaitForSingleObject(process_.get(), 10000);
}

std::vector<TopWindow> Monoflash::Windows() const {
  std::vector<TopWindow> found;
  if (!process_) return found;
  WindowSearch search{id_, &found};
  EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
  return found;
}

HWND Monoflash::Find(const char* className, const std::string& title) const {
  for (const TopWindow& window : Windows()) {
    if (window.className == className && window.title == title) return window.handle;
  }
  return nullptr;
}

bool Monoflash::Until(const std::function<bool()>& done, DWORD limitMs) const {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (!Running() || GetTickCount() - start > limitMs) return false;
    Sleep(kLookEveryMs);
  }
}

std::optional<DWORD> Monoflash::WaitExit(DWORD limitMs, const std::function<void()>& look) const {
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

std::string MessageBoxText(HWND box) {
  std::vector<std::string> texts;
  EnumChildWindows(box, CollectStaticTexts, reinterpret_cast<LPARAM>(&texts));
  std::string joined;
  for (const std::string& text : texts) joined += text;
  return joined;
}

void PressOk(HWND box) { PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

int Wizard::Page() const {
  DWORD_PTR page = 0;
  if (!SendMessageTimeoutA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &page) || !page) return -1;
  DWORD_PTR index = 0;
  if (!SendMessageTimeoutA(sheet_, PSM_HWNDTOINDEX, page, 0, SMTO_ABORTIFHUNG, kAnswerMs, &index)) return -1;
  return static_cast<int>(static_cast<LONG_PTR>(index));
}

std::string Wizard::PageText(int control) const {
  DWORD_PTR page = 0;
  if (!SendMessageTimeoutA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &page) || !page) return {};
  const HWND item = GetDlgItem(reinterpret_cast<HWND>(page), control);
  return item ? TextOf(item) : std::string();
}

bool Wizard::InsidePage(int control) const {
  DWORD_PTR page = 0;
  if (!SendMessageTimeoutA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &page) || !page) return false;
  const HWND item = GetDlgItem(reinterpret_cast<HWND>(page), control);
  RECT pageRect{}, itemRect{};
  if (!item || !GetWindowRect(reinterpret_cast<HWND>(page), &pageRect) || !GetWindowRect(item, &itemRect)) return false;
  return itemRect.left >= pageRect.left && itemRect.top >= pageRect.top && itemRect.right <= pageRect.right &&
         itemRect.bottom <= pageRect.bottom;
}

bool Wizard::HasFocus(int control) const {
  const HWND item = GetDlgItem(sheet_, control);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return item && GetGUIThreadInfo(GetWindowThreadProcessId(sheet_, nullptr), &info) && info.hwndFocus == item;
}

Wizard::Button Wizard::ButtonState(int control) const {
  const HWND button = GetDlgItem(sheet_, control);
  if (!button) return {};
  return Button{IsWindowVisible(button) != FALSE, IsWindowEnabled(button) != FALSE, TextOf(button)};
}

bool Wizard::Press(int control, int times) const {
  const Button state = ButtonState(control);
  if (!state.shown || !state.enabled) return false;
  bool posted = true;
  for (int i = 0; i < times; ++i) {
    posted &= PostMessageA(sheet_, PSM_PRESSBUTTON, control == kNext ? PSBTN_NEXT : PSBTN_CANCEL, 0) != FALSE;
  }
  return posted;
}

std::optional<Wizard> WaitForPage(const Monoflash& run, const std::string& title, int page) {
  HWND sheet = nullptr;
  int shown = -1;
  const bool found = run.Until([&] {
    for (const TopWindow& window : run.Windows()) {
      if (window.className != "#32770" || window.title != title) continue;
      const int index = Wizard(window.handle).Page();
      if (index < 0) continue;
      sheet = window.handle;
      shown = index;
      if (index == page) return true;
    }
    return false;
  });
  if (found) return Wizard(sheet);
  ADD_FAILURE() << "page " << page << " not shown; the sheet shows "
                << (sheet ? std::to_string(shown) : std::string("nothing"));
  return std::nullopt;
}

}  // namespace e2e
