#pragma once
// Drives the two-stage wrapper from outside, as a user would: starts it as a process (in a job that
// ends it and every stage it started when the driver lets go), finds its windows and those of the
// stage updaters it starts, reads their texts through the wide calls and presses their buttons. Every
// wait is bounded. Used by the end-to-end tests and by the program that runs a whole update for a
// demonstration; nothing here depends on the test framework.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "win/framework/handles.h"

namespace duo {

// How long any one step may take: an update of the main processor takes some 15 s under Wine, the
// recorder's restart and a stage's start a few more.
inline constexpr DWORD kPatienceMs = 60000;
inline constexpr DWORD kLookEveryMs = 25;

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& text);
// "/a/b" as Wine's drive Z sees it; other paths only get backslashes.
std::wstring WindowsPath(const std::string& path);

// Polls `done` until it holds or `limitMs` have passed.
bool Until(const std::function<bool()>& done, DWORD limitMs = kPatienceMs);

using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

// A program started with this process's environment plus `environment`. The job it runs in ends it,
// and whatever it started, when the owner goes.
class Process {
 public:
  Process(const std::wstring& program, const std::wstring& arguments, const Environment& environment);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return process_.valid(); }
  const std::string& error() const { return error_; }
  DWORD id() const { return id_; }
  bool Running() const;
  // The exit code, or nothing when it still runs after `limitMs`; `look` runs between the checks.
  std::optional<DWORD> WaitExit(DWORD limitMs = kPatienceMs, const std::function<void()>& look = {}) const;
  void Kill();

 private:
  win::ScopedHandle job_;  // declared first, so that it closes last
  win::ScopedHandle process_;
  DWORD id_ = 0;
  std::string error_;
};

struct TopWindow {
  HWND handle = nullptr;
  std::wstring className;
  std::wstring title;
  bool visible = false;
};
// The top-level windows of a process, the hidden ones too when `visibleOnly` is false.
std::vector<TopWindow> WindowsOf(DWORD processId, bool visibleOnly = true);

// Running processes with this executable name (any case) whose parent is `parentId`.
std::vector<DWORD> ChildProcessesNamed(DWORD parentId, const std::wstring& exeName);
bool ProcessRunning(DWORD processId);

// A window's text as UTF-16, through a message that a busy program must answer within two seconds.
std::wstring TextOf(HWND window);

// A message box of the process: a visible dialog titled `title` (a program titles its boxes with
// its name) that is not a wizard sheet.
HWND FindMessageBox(DWORD processId, const std::wstring& title);
std::wstring MessageBoxText(HWND box);
void PressOk(HWND box);

// A wizard sheet of another process, read and pressed from outside.
class Sheet {
 public:
  static constexpr int kBack = 0x3023;
  static constexpr int kNext = 0x3024;
  static constexpr int kFinish = 0x3025;
  static constexpr int kCancel = IDCANCEL;

  explicit Sheet(HWND sheet) : sheet_(sheet) {}
  HWND handle() const { return sheet_; }
  bool Visible() const { return IsWindowVisible(sheet_) != FALSE; }

  // The index of the page shown, -1 when the sheet does not tell.
  int Page() const;
  HWND PageWindow() const;
  std::wstring PageText(int control) const;
  // A control of the page shown, in the page's client coordinates.
  RECT PageControlRect(int control) const;

  struct Button {
    bool exists = false;
    bool shown = false;        // visible on the screen
    bool showable = false;     // would be visible with the sheet: its own visibility alone
    bool enabled = false;
    std::wstring text;
    RECT rect{};  // on the screen
  };
  Button ButtonState(int control) const;
  // Presses a button as the user would; false when a user could not, because it is hidden or disabled.
  bool Press(int control) const;
  // The window's Close command, as the title bar's button sends it.
  void Close() const { PostMessageW(sheet_, WM_SYSCOMMAND, SC_CLOSE, 0); }

 private:
  HWND sheet_;
};

// The first wizard sheet of the process (a dialog with a Next button), hidden ones too unless
// `visibleOnly`; null when it has none.
HWND FindSheet(DWORD processId, bool visibleOnly);

// What a stage updater showed and how it ended.
struct StageRun {
  bool seen = false;                  // the stage's process was found
  std::optional<DWORD> exitCode;      // empty while it still runs when the time is up
  std::vector<std::wstring> boxes;    // message boxes it showed, answered with OK
  std::vector<std::wstring> pressed;  // the buttons pressed, by their texts
};

// Goes through the wizard of the stage updater number `stage` that the wrapper `wrapperId` started:
// offers to update are taken (Next, Start), the pages that end a stage are left with their Cancel
// (Finish) button, and message boxes are answered. Returns once the stage has ended, the wrapper is
// gone, or `limitMs` have passed.
StageRun DriveStage(DWORD wrapperId, int stage, DWORD limitMs = 3 * kPatienceMs);

}  // namespace duo
