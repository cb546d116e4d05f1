// Reads back, from inside Wine, what the updaters show on a virtual desktop, so that the screenshot
// script captures a state rather than a moment: the wizard's current page with its title and texts,
// or the progress dialog with its stage text and bar. Built by scripts/screenshots.sh with the Windows
// tree's compiler; a tool for the pictures, not part of any program. Serves Monoflash's wizard and
// Duoflash's alike: both are property sheets whose pages show their main text in static 1002.
//
//   shot-probe <desktop> page <index> <seconds> <title> <comment> [<second text>]
//       the wizard on that page, taking input, no other dialog on the desktop; the second text is
//       that of static 1003, which Duoflash's pages 1 and 2 have
//   shot-probe <desktop> progress <percent> <seconds> <title> <stage> [<stage>...]
//       the progress dialog, its bar at that percentage or beyond, showing one of the stage texts
//   shot-probe <desktop> focus <seconds>
//       the wizard becomes the desktop's foreground window, which is where typed keys go
//   shot-probe <desktop> button <seconds> <control>
//       the centre of the wizard's button, on the screen, once it is shown and enabled ("x y")
//   shot-probe <desktop> reveal <seconds>
//       shows a wizard sheet that its program keeps hidden, without activating it: Duoflash's last
//       page is active only behind its hidden sheet, and no user ever sees it
//   shot-probe <desktop> list
//
// Texts are compared as the glossary stores them: line breaks and tabs written as \n and \t, and each
// "%s" standing for any text. A state that is reached prints its texts and the box around every
// visible window ("box x y width height"), UTF-8, and exits 0; a time-out says on stderr what the
// desktop shows instead and exits 1; a bad call exits 2.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr UINT kAnswerMs = 2000;  // a window that takes longer to answer counts as busy
constexpr int kCommentId = 1002;  // the comment static of every wizard page
constexpr int kSecondTextId = 1003;  // the second text of Duoflash's pages 1 and 2
constexpr int kStageId = 1004;    // the progress dialog's stage text
constexpr int kPercentId = 1005;  // and its percentage

void Write(HANDLE out, const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                      nullptr);
  DWORD written = 0;
  WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}
void Out(const std::wstring& line) { Write(GetStdHandle(STD_OUTPUT_HANDLE), line + L"\n"); }
void Err(const std::wstring& line) { Write(GetStdHandle(STD_ERROR_HANDLE), line + L"\n"); }

// Line breaks and tabs escaped as the glossary writes them, so that a text stays on one line.
std::wstring Escaped(const std::wstring& text) {
  std::wstring line;
  for (wchar_t c : text) {
    if (c == L'\r') continue;
    if (c == L'\n') line += L"\\n";
    else if (c == L'\t') line += L"\\t";
    else line += c;
  }
  return line;
}

// Whether `text` is `pattern` with each "%s" replaced by some text (empty included).
bool Matches(const wchar_t* pattern, const wchar_t* text) {
  for (;;) {
    if (pattern[0] == L'%' && pattern[1] == L's') {
      for (const wchar_t* rest = text;; ++rest) {
        if (Matches(pattern + 2, rest)) return true;
        if (!*rest) return false;
      }
    }
    if (!*pattern) return !*text;
    if (*pattern != *text) return false;
    ++pattern;
    ++text;
  }
}

LRESULT Ask(HWND hwnd, UINT message, WPARAM wParam = 0) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wParam, 0, SMTO_ABORTIFHUNG, kAnswerMs, &result)) return 0;
  return static_cast<LRESULT>(result);
}

// The windows belong to another process: their texts are asked of the threads that own them.
std::wstring Text(HWND hwnd) {
  wchar_t buffer[4096] = {};
  DWORD_PTR copied = 0;
  if (!hwnd || !SendMessageTimeoutW(hwnd, WM_GETTEXT, sizeof buffer / sizeof buffer[0],
                                    reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, kAnswerMs, &copied))
    return L"";
  return std::wstring(buffer, std::min<size_t>(copied, sizeof buffer / sizeof buffer[0] - 1));
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

BOOL CALLBACK AddVisible(HWND hwnd, LPARAM list) {
  if (IsWindowVisible(hwnd)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(AddVisible, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

struct ClassSearch {
  const wchar_t* className;
  HWND found;
};

BOOL CALLBACK MatchClass(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<ClassSearch*>(param);
  if (ClassOf(hwnd) != search->className) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND FindChildOfClass(HWND parent, const wchar_t* className) {
  ClassSearch search{className, nullptr};
  EnumChildWindows(parent, MatchClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsDialog(HWND hwnd) { return ClassOf(hwnd) == L"#32770"; }

// The property sheet is the dialog that answers with its current page.
HWND CurrentPage(HWND hwnd) { return reinterpret_cast<HWND>(Ask(hwnd, PSM_GETCURRENTPAGEHWND)); }

HWND FindWizard() {
  for (HWND hwnd : TopLevelWindows())
    if (IsDialog(hwnd) && CurrentPage(hwnd)) return hwnd;
  return nullptr;
}

BOOL CALLBACK AddHiddenDialog(HWND hwnd, LPARAM list) {
  if (!IsWindowVisible(hwnd) && IsDialog(hwnd)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

// Wizard sheets that their programs keep hidden.
std::vector<HWND> HiddenWizards() {
  std::vector<HWND> dialogs, wizards;
  EnumWindows(AddHiddenDialog, reinterpret_cast<LPARAM>(&dialogs));
  for (HWND hwnd : dialogs)
    if (CurrentPage(hwnd)) wizards.push_back(hwnd);
  return wizards;
}

HWND FindProgress() {
  for (HWND hwnd : TopLevelWindows())
    if (IsDialog(hwnd) && FindChildOfClass(hwnd, PROGRESS_CLASSW)) return hwnd;
  return nullptr;
}

std::wstring Box(const RECT& r) {
  return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right - r.left) +
         L" " + std::to_wstring(r.bottom - r.top);
}

// Everything the picture has to hold: the dialogs on the desktop, tool windows and such aside.
RECT DialogsBox() {
  RECT box{};
  for (HWND hwnd : TopLevelWindows()) {
    if (!IsDialog(hwnd)) continue;
    RECT r{};
    GetWindowRect(hwnd, &r);
    UnionRect(&box, &box, &r);
  }
  return box;
}

void List() {
  const auto windows = TopLevelWindows();
  if (windows.empty()) Err(L"  (no visible window)");
  for (HWND hwnd : windows) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    std::wstring line = L"  [" + ClassOf(hwnd) + L"] \"" + Escaped(Text(hwnd)) + L"\" at " + Box(r);
    if (!IsWindowEnabled(hwnd)) line += L" (disabled)";
    if (GetForegroundWindow() == hwnd) line += L" (foreground)";
    if (HWND page = CurrentPage(hwnd)) {
      line += L", page " + std::to_wstring(Ask(hwnd, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page)));
      line += L": \"" + Escaped(Text(GetDlgItem(page, kCommentId))) + L"\"";
    }
    Err(line);
  }
  for (HWND hwnd : HiddenWizards()) {
    HWND page = CurrentPage(hwnd);
    Err(L"  hidden: [" + ClassOf(hwnd) + L"] \"" + Escaped(Text(hwnd)) + L"\", page " +
        std::to_wstring(Ask(hwnd, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page))) + L": \"" +
        Escaped(Text(GetDlgItem(page, kCommentId))) + L"\"");
  }
}

// Paints what is pending before the picture is taken: a state reached a moment ago may not be drawn.
void Settle(HWND hwnd) {
  Ask(hwnd, WM_NULL);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
}

// Each wait ends when its state holds, is then given time to be drawn, and must still hold after.
template <class Holds>
bool Reach(double seconds, Holds holds, HWND& window) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if (holds()) {
      Settle(window);
      if (holds()) return true;
    }
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
}

struct Page {
  HWND wizard = nullptr;
  int index = -1;
  std::wstring title, comment, secondText;
};

// A page counts as shown when the wizard is on it and takes input, and no other dialog (a message box,
// the progress dialog) stands on the desktop beside it.
bool ReadPage(Page& page) {
  page = {};
  for (HWND hwnd : TopLevelWindows()) {
    if (!IsDialog(hwnd)) continue;
    if (page.wizard || !CurrentPage(hwnd)) return false;
    page.wizard = hwnd;
  }
  if (!page.wizard || !IsWindowEnabled(page.wizard)) return false;
  HWND current = CurrentPage(page.wizard);
  page.index = static_cast<int>(Ask(page.wizard, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(current)));
  page.title = Escaped(Text(page.wizard));
  page.comment = Escaped(Text(GetDlgItem(current, kCommentId)));
  page.secondText = Escaped(Text(GetDlgItem(current, kSecondTextId)));
  return true;
}

struct Progress {
  HWND dialog = nullptr;
  int percent = -1;
  std::wstring title, stage, percentText;
};

bool ReadProgress(Progress& progress) {
  progress = {};
  progress.dialog = FindProgress();
  if (!progress.dialog) return false;
  progress.percent = static_cast<int>(Ask(FindChildOfClass(progress.dialog, PROGRESS_CLASSW), PBM_GETPOS));
  progress.title = Escaped(Text(progress.dialog));
  progress.stage = Escaped(Text(GetDlgItem(progress.dialog, kStageId)));
  progress.percentText = Text(GetDlgItem(progress.dialog, kPercentId));
  return true;
}

// The updater may still be starting: its desktop appears with its first window.
HDESK JoinDesktop(const wchar_t* name, double seconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if (HDESK desktop = OpenDesktopW(name, 0, FALSE, GENERIC_ALL)) {
      if (SetThreadDesktop(desktop)) return desktop;
      CloseDesktop(desktop);
      return nullptr;
    }
    if (GetTickCount64() >= end) return nullptr;
    Sleep(100);
  }
}

int Usage() {
  Err(L"usage: shot-probe <desktop> page <index> <seconds> <title> <comment> [<second text>]\n"
      L"       shot-probe <desktop> progress <percent> <seconds> <title> <stage>...\n"
      L"       shot-probe <desktop> focus <seconds>\n"
      L"       shot-probe <desktop> button <seconds> <control>\n"
      L"       shot-probe <desktop> reveal <seconds>\n"
      L"       shot-probe <desktop> list");
  return 2;
}

// `secondText` null: the page's static 1003, if it has one, is not looked at.
int PageCommand(int index, double seconds, const wchar_t* title, const wchar_t* comment, const wchar_t* secondText) {
  Page page;
  auto holds = [&] {
    return ReadPage(page) && page.index == index && Matches(title, page.title.c_str()) &&
           Matches(comment, page.comment.c_str()) && (!secondText || Matches(secondText, page.secondText.c_str()));
  };
  if (Reach(seconds, holds, page.wizard)) {
    Out(page.title);
    Out(page.comment);
    if (secondText) Out(page.secondText);
    Out(L"box " + Box(DialogsBox()));
    return 0;
  }
  Err(L"page " + std::to_wstring(index) + L" with \"" + title + L"\" / \"" + comment +
      (secondText ? L"\" / \"" + std::wstring(secondText) : std::wstring()) + L"\" did not show; the desktop has:");
  List();
  return 1;
}

int ProgressCommand(int percent, double seconds, const wchar_t* title, const std::vector<std::wstring>& stages) {
  Progress progress;
  auto holds = [&] {
    if (!ReadProgress(progress) || progress.percent < percent || !Matches(title, progress.title.c_str()))
      return false;
    return std::any_of(stages.begin(), stages.end(),
                       [&](const std::wstring& stage) { return Matches(stage.c_str(), progress.stage.c_str()); });
  };
  if (Reach(seconds, holds, progress.dialog)) {
    Out(progress.title);
    Out(progress.stage);
    Out(progress.percentText);
    Out(L"box " + Box(DialogsBox()));
    return 0;
  }
  Err(L"no progress dialog \"" + std::wstring(title) + L"\" at " + std::to_wstring(percent) +
      L"% or beyond; the desktop has:");
  List();
  return 1;
}

// Under Wine a wizard that became the foreground window before it was shown keeps an inactive title
// bar, though it takes the keys. Telling it that it is active redraws the title bar as a user sees it
// and, unlike handing the foreground away and back, leaves the keyboard focus where the wizard put it.
int FocusCommand(double seconds) {
  HWND wizard = nullptr;
  auto focused = [&] {
    wizard = FindWizard();
    if (!wizard) return false;
    if (GetForegroundWindow() != wizard) SetForegroundWindow(wizard);
    if (GetForegroundWindow() != wizard) return false;
    Ask(wizard, WM_NCACTIVATE, TRUE);
    return true;
  };
  if (Reach(seconds, focused, wizard)) {
    Out(Text(wizard));
    return 0;
  }
  Err(L"the wizard did not become the foreground window; the desktop has:");
  List();
  return 1;
}

// Where a user would click the button: a wizard's button is pressed with the mouse where pressing a
// mnemonic would leave the Alt key held down, in Wine's eyes, for the program that comes up next.
int ButtonCommand(double seconds, int control) {
  HWND wizard = nullptr;
  RECT r{};
  auto clickable = [&] {
    Page page;
    if (!ReadPage(page)) return false;
    wizard = page.wizard;
    HWND button = GetDlgItem(wizard, control);
    if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button)) return false;
    GetWindowRect(button, &r);
    return true;
  };
  if (Reach(seconds, clickable, wizard)) {
    Out(std::to_wstring((r.left + r.right) / 2) + L" " + std::to_wstring((r.top + r.bottom) / 2));
    return 0;
  }
  Err(L"the wizard's button " + std::to_wstring(control) + L" is not there to be pressed; the desktop has:");
  List();
  return 1;
}

// Shown as it is, without activation, so that the program's own state (the page, the focus, the
// stage it waits for) stays as it was.
int RevealCommand(double seconds) {
  HWND wizard = nullptr;
  auto revealed = [&] {
    if (wizard && IsWindowVisible(wizard)) return true;
    const std::vector<HWND> hidden = HiddenWizards();
    if (hidden.size() != 1) return false;
    wizard = hidden.front();
    ShowWindow(wizard, SW_SHOWNA);
    return IsWindowVisible(wizard) != FALSE;
  };
  if (Reach(seconds, revealed, wizard)) {
    Out(Text(wizard));
    return 0;
  }
  Err(L"no one hidden wizard to show; the desktop has:");
  List();
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring command = argv[2];
  double seconds = 0;
  if ((command == L"page" && (argc == 7 || argc == 8)) || (command == L"progress" && argc >= 7)) seconds = _wtof(argv[4]);
  else if ((command == L"focus" || command == L"reveal") && argc == 4) seconds = _wtof(argv[3]);
  else if (command == L"button" && argc == 5) seconds = _wtof(argv[3]);
  else if (command != L"list" || argc != 3) return Usage();
  // Windows are listed per desktop: join the one the updater runs on. Once joined, the desktop
  // belongs to this thread and cannot be closed; it goes with the process.
  if (!JoinDesktop(argv[1], seconds)) {
    Err(L"shot-probe: no desktop \"" + std::wstring(argv[1]) + L"\" to join");
    return 1;
  }
  if (command == L"list") {
    List();
    return 0;
  }
  if (command == L"page") return PageCommand(_wtoi(argv[3]), seconds, argv[5], argv[6], argc == 8 ? argv[7] : nullptr);
  if (command == L"progress")
    return ProgressCommand(_wtoi(argv[3]), seconds, argv[5], std::vector<std::wstring>(argv + 6, argv + argc));
  if (command == L"button") return ButtonCommand(seconds, _wtoi(argv[4]));
  if (command == L"reveal") return RevealCommand(seconds);
  return FocusCommand(seconds);
}
