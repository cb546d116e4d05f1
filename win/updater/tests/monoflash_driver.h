#pragma once
// Drives a Monoflash simulation build from outside, as a user and the two-stage wrapper would: it
// starts the program as a process beside a simulated recorder of its own, reads the program's windows
// through their handles, presses buttons and answers message boxes. Every wait is bounded; a program
// still running when its owner goes is terminated.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/recorder.h"
#include "win/framework/handles.h"

namespace e2e {

// How long any one step of a run may take before the case fails. An update of the sub processor's
// image takes about 5 s under Wine, the recorder's restart and mode switch 1.5 s each.
inline constexpr DWORD kPatienceMs = 30000;

// "/a/b" as Wine's drive Z sees it; other paths only get backslashes.
std::string WindowsPath(const std::string& path);

// The temporary folder as the program sees it (it inherits this process's environment).
std::string TempFolder();

// A simulated recorder in a state file of its own in the temporary folder, removed at the end.
class RecorderFile {
 public:
  explicit RecorderFile(const sim::Recorder& initial);
  ~RecorderFile();
  RecorderFile(const RecorderFile&) = delete;
  RecorderFile& operator=(const RecorderFile&) = delete;

  const std::string& path() const { return path_; }
  // Each records a test failure when the file cannot be used.
  sim::Recorder Read() const;
  void Change(const std::function<void(sim::Recorder&)>& change) const;

 private:
  std::string path_;
};

struct TopWindow {
  HWND handle = nullptr;
  std::string className;
  std::string title;
};

// The text of a window of any process; empty when it does not answer in time.
std::string TextOf(HWND window);

// One run of a Monoflash build.
class Monoflash {
 public:
  // The recorder's file and drive letter reach the program through its environment only. A second
  // recorder, when given, stands on drive S.
  Monoflash(const std::string& program, const std::string& arguments, const std::string& recorderFile,
            const std::string& secondRecorderFile = {});
  ~Monoflash();
  Monoflash(const Monoflash&) = delete;
  Monoflash& operator=(const Monoflash&) = delete;

  bool started() const { return process_.valid(); }
  bool Running() const;

  // The visible top-level windows of the process.
  std::vector<TopWindow> Windows() const;
  HWND Find(const char* className, const std::string& title) const;
  // The program's message boxes: dialogs titled with the executable's base name.
  HWND FindMessageBox() const { return Find("#32770", "Monoflash"); }

  // Polls `done` until it holds; false when the time is up or the program ended first.
  bool Until(const std::function<bool()>& done, DWORD limitMs = kPatienceMs) const;
  // The exit code, or nothing when the program still runs after `limitMs`. `look` runs between
  // the checks, to watch the windows while the program works.
  std::optional<DWORD> WaitExit(DWORD limitMs = kPatienceMs, const std::function<void()>& look = {}) const;
  void Kill();

 private:
  win::ScopedHandle job_;  // declared first, so that it closes last
  win::ScopedHandle process_;
  DWORD id_ = 0;
};

// The text of a message box and its answer.
std::string MessageBoxText(HWND box);
void PressOk(HWND box);

// The wizard sheet of a running program, read and pressed from outside.
class Wizard {
 public:
  explicit Wizard(HWND sheet) : sheet_(sheet) {}
  HWND handle() const { return sheet_; }

  // The index of the page shown (0 to 5), -1 when the sheet does not tell.
  int Page() const;
  // Statics of the page shown: 1001 the model line, 1002 the comment.
  std::string PageText(int control) const;
  // Whether the control lies wholly inside the page's window, so that none of it is cut off.
  bool InsidePage(int control) const;
  // Whether the control has the keyboard focus (Enter presses a push button that has it).
  bool HasFocus(int control) const;

  struct Button {
    bool shown = false;
    bool enabled = false;
    std::string text;
  };
  Button Next() const { return ButtonState(kNext); }
  Button Cancel() const { return ButtonState(kCancel); }
  // Presses the button as the user would; false when a user could not, because it is hidden or
  // disabled.
  bool PressNext() const { return Press(kNext); }
  bool PressCancel() const { return Press(kCancel); }
  // Two presses of Next that reach the sheet before it has answered the first: a double click, or
  // Enter pressed twice.
  bool PressNextTwice() const { return Press(kNext, 2); }

 private:
  static constexpr int kNext = 0x3024;
  static constexpr int kCancel = IDCANCEL;
  Button ButtonState(int control) const;
  bool Press(int control, int times = 1) const;

  HWND sheet_;
};

// The wizard sheet titled `title` once it shows `page`; nothing, with a test failure, when it does
// not within the patience. The progress dialog of a main-processor bundle carries the sheet's
// title; it is told apart by having no pages.
std::optional<Wizard> WaitForPage(const Monoflash& run, const std::string& title, int page);

}  // namespace e2e
