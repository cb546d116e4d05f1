// Duoflash end to end: the simulation build against a simulated recorder, and a wrapper whose stages
// are a stand-in that records how it was started and ends as a case tells it. The cases look at what
// a user sees (windows, texts, buttons), at the stages the wrapper starts, at what reached the
// recorder, and at what is left in the temporary folder and the registry.

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/state_file.h"
#include "win/wrapper/resource.h"
#include "win/wrapper/tests/duoflash_driver.h"
#include "win/wrapper/wrapper_rules.h"

namespace {

namespace fs = std::filesystem;
using duo::Process;
using duo::Sheet;
using duo::Until;

constexpr int IDC_TEXT1 = IDC_WIZARD_TEXT1;
constexpr int IDC_TEXT2 = IDC_WIZARD_TEXT2;
const std::wstring kTitle = L"Firmware Update Program";
const std::wstring kMarker = L"KestrelReflashCompleteCheck.txt";
const std::set<std::wstring> kWrapperFiles = {L"Glossaries.txt", L"TWINFLASH.INI", L"WDSSCancel.dll",
                                              L"WKesGloss.dll",  L"st1Updata.exe", L"st2Updata.exe"};
constexpr wchar_t kRunIdentityKey[] = L"AppID\\{396103E0-A98D-4e90-AD49-A6AFE48A6BA6}";
constexpr wchar_t kExecutableKey[] = L"AppID\\Duoflash.exe";
constexpr DWORD kCloseTakesMs = 1000;  // an obeyed Close ends the sheet well within this

std::wstring ProgramPath(const char* built) { return duo::WindowsPath(built); }

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A REG_SZ value, written with or without its terminating null; nothing when it is not there.
std::optional<std::wstring> RegistryText(HKEY root, const wchar_t* key, const wchar_t* value) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &raw) != ERROR_SUCCESS) return std::nullopt;
  const win::ScopedRegKey opened(raw);
  wchar_t data[256] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(opened.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return std::wstring(data);
}

bool HasModule(DWORD processId, const wchar_t* name) {
  const win::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
  if (!snapshot) return false;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32FirstW(snapshot.get(), &entry); more; more = Module32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szModule, name) == 0) return true;
  }
  return false;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

int Width(const RECT& r) { return r.right - r.left; }
bool Same(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }
std::string Show(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

// Makes Wine tell the wrapper that it runs on another version of Windows, for as long as it lives.
class WindowsVersionForWrapper {
 public:
  explicit WindowsVersionForWrapper(const wchar_t* version) {
    HKEY raw = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr), ERROR_SUCCESS);
    const win::ScopedRegKey key(raw);
    EXPECT_EQ(RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                             static_cast<DWORD>((std::wcslen(version) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  ~WindowsVersionForWrapper() { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }
  WindowsVersionForWrapper(const WindowsVersionForWrapper&) = delete;
  WindowsVersionForWrapper& operator=(const WindowsVersionForWrapper&) = delete;

 private:
  static constexpr wchar_t kKey[] = L"Software\\Wine\\AppDefaults\\Duoflash.exe";
};

// The texts of the wrapper's glossary table in one language, escapes replaced as the library does.
class GlossaryColumn {
 public:
  explicit GlossaryColumn(const std::string& code) {
    std::istringstream table(ReadBytes(ZT_DUOFLASH_TABLE));
    std::string line;
    size_t column = 0;
    for (bool header = true; std::getline(table, line); header = false) {
      std::vector<std::string> fields;
      std::stringstream split(line);
      for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
      if (header) {
        for (size_t i = 0; i < fields.size(); ++i) {
          if (fields[i] == code) column = i;
        }
        EXPECT_NE(column, 0u) << "no column " << code;
        continue;
      }
      if (column == 0 || column >= fields.size()) continue;
      std::string text = fields[column];
      for (size_t at; (at = text.find("\\n")) != std::string::npos;) text.replace(at, 2, "\n");
      texts_[std::stoul(fields[0])] = duo::Wide(text);
    }
  }
  std::wstring operator()(uint32_t id) const {
    const auto found = texts_.find(id);
    return found == texts_.end() ? std::wstring() : found->second;
  }
  std::wstring WithModel(uint32_t id) const {
    std::wstring text = (*this)(id);
    const size_t at = text.find(L"%s");
    if (at != std::wstring::npos) text.replace(at, 2, L"ZT-5100");
    return text;
  }

 private:
  std::map<uint32_t, std::wstring> texts_;
};

class DuoflashTest : public testing::Test {
 protected:
  void SetUp() override {
    static int run = 0;
    root_ = fs::temp_directory_path() / ("zt-duo-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++run));
    temp_ = root_ / "temp";
    fs::create_directories(temp_);
    const sim::Recorder recorder = Recorder("1.00", "1.00");
    std::string error;
    ASSERT_TRUE(sim::RecorderStore(RecorderPath()).Create(recorder, error)) << error;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static sim::Recorder Recorder(const char* main, const char* sub) {
    sim::Recorder r;
    r.main.version = main;
    r.sub.version = sub;
    r.modeSwitchDelayMs = 800;
    return r;
  }
  std::string RecorderPath() const { return (root_ / "recorder.sim").string(); }
  void ChangeRecorder(const std::function<void(sim::Recorder&)>& change) const {
    std::string error;
    EXPECT_TRUE(sim::RecorderStore(RecorderPath()).Update([&](sim::Recorder& r) { return change(r), true; }, error))
        << error;
  }
  sim::Recorder ReadRecorder() const {
    sim::Recorder r;
    std::string error;
    EXPECT_TRUE(sim::RecorderStore(RecorderPath()).Read(r, error)) << error;
    return r;
  }

  // The wrapper's environment: a temporary folder of its own (which its stages share), the simulated
  // recorder on drive R and no second one, and what the stand-in stages are to do.
  duo::Environment Env(const std::wstring& marker = L"", const std::wstring& exitCode = L"") const {
    return {{L"TMP", temp_.wstring() + L"\\"},
            {L"TEMP", temp_.wstring() + L"\\"},
            {L"ZT_SIM_RECORDER", duo::Wide(RecorderPath())},
            {L"ZT_SIM_DRIVE", L"R"},
            {L"ZT_SIM_RECORDER2", L""},
            {L"ZT_SIM_DRIVE2", L"S"},
            {L"ZT_STANDIN_LOG", (root_ / "stages.log").wstring()},
            {L"ZT_STANDIN_HOLD", (root_ / "hold").wstring()},
            {L"ZT_STANDIN_MARKER", marker},
            {L"ZT_STANDIN_EXIT", exitCode}};
  }

  // Stand-in stages keep running while this holds.
  void Hold(bool hold) const {
    if (hold) {
      std::ofstream(root_ / "hold") << "";
    } else {
      fs::remove(root_ / "hold");
    }
  }
  // "<program>|<command line>" for every stand-in stage started so far.
  std::vector<std::wstring> StageLog() const {
    std::istringstream log(ReadBytes(root_ / "stages.log"));
    std::vector<std::wstring> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(duo::Wide(line));
    return lines;
  }

  std::set<std::wstring> TempFiles() const {
    std::set<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(temp_)) names.insert(entry.path().filename().wstring());
    return names;
  }
  bool MarkerExists() const { return fs::exists(temp_ / kMarker); }

  // The wrapper's sheet once it shows `page` (0 to 2); with `visible` only when it is on the screen.
  static std::optional<Sheet> WaitForPage(const Process& run, int page, bool visible = true) {
    HWND sheet = nullptr;
    Until([&] {
      sheet = duo::FindSheet(run.id(), visible);
      return (sheet && Sheet(sheet).Page() == page) || !run.Running();
    });
    if (sheet && Sheet(sheet).Page() == page) return Sheet(sheet);
    ADD_FAILURE() << "page " << page + 1 << (visible ? " not shown" : " not active") << "; the sheet "
                  << (sheet ? "shows page " + std::to_string(Sheet(sheet).Page() + 1) : std::string("is not there"))
                  << (run.Running() ? "" : "; the wrapper has ended");
    return std::nullopt;
  }

  // The title bar's Close button while closing is refused: the sheet stays and keeps its state.
  static void ExpectCloseRefused(const Process& run, const Sheet& sheet) {
    const bool visible = sheet.Visible();
    sheet.Close();
    EXPECT_FALSE(Until([&] { return !run.Running() || !IsWindow(sheet.handle()) || sheet.Visible() != visible; },
                       kCloseTakesMs))
        << "Close was obeyed";
  }

  // Waits for the wrapper to end, and records whether it showed its sheet once more meanwhile and
  // whether a second stage ever started.
  struct Ending {
    std::optional<DWORD> exitCode;
    bool sheetShown = false;
    bool secondStage = false;
  };
  static Ending WaitForEnd(const Process& run) {
    Ending ending;
    ending.exitCode = run.WaitExit(duo::kPatienceMs, [&] {
      ending.sheetShown |= duo::FindSheet(run.id(), true) != nullptr;
      ending.secondStage |= !duo::ChildProcessesNamed(run.id(), L"st2Updata.exe").empty();
    });
    return ending;
  }

  fs::path root_, temp_;
};

// The whole run a user makes: page 1, stage 1, page 2, stage 2, and both processors are up to date.
TEST_F(DuoflashTest, UpdatesBothProcessorsThroughItsPages) {
  Process run(ProgramPath(ZT_DUOFLASH_SIM), L"", Env());
  ASSERT_TRUE(run.started()) << run.error();

  std::optional<Sheet> sheet = WaitForPage(run, 0);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(duo::TextOf(sheet->handle()), kTitle);
  EXPECT_EQ(sheet->PageText(IDC_TEXT1), L"Updates ZT-5100 Firmware. Please follow installation directions given in the setup wizard.");
  EXPECT_EQ(sheet->PageText(IDC_TEXT2), L"Updates Firmware.\nConnect Recorder to the USB port and click [Next].");
  EXPECT_EQ(sheet->ButtonState(Sheet::kNext).text, L"&Next");
  const Sheet::Button cancel = sheet->ButtonState(Sheet::kCancel);
  EXPECT_TRUE(cancel.shown && cancel.enabled);
  EXPECT_EQ(cancel.text, L"Cancel");
  EXPECT_FALSE(sheet->ButtonState(Sheet::kBack).showable);
  EXPECT_TRUE(Until([&] { return FocusOf(sheet->handle()) == GetDlgItem(sheet->handle(), IDCANCEL); }, 2000))
      << "Cancel does not have the focus";
  EXPECT_EQ(TempFiles(), kWrapperFiles);
  EXPECT_TRUE(HasModule(run.id(), L"WDSSCancel.dll"));
  EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, kRunIdentityKey, L"RunAs"), L"Interactive User");
  EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, kExecutableKey, L"AppID"), L"{396103E0-A98D-4e90-AD49-A6AFE48A6BA6}");

  ASSERT_TRUE(sheet->Press(Sheet::kNext));
  EXPECT_TRUE(Until([&] { return !sheet->Visible(); }, 5000)) << "the sheet stays on the screen while stage 1 runs";
  ExpectCloseRefused(run, *sheet);
  const duo::StageRun stage1 = duo::DriveStage(run.id(), 1);
  EXPECT_TRUE(stage1.seen && stage1.exitCode) << "stage 1 did not run to its end";
  EXPECT_TRUE(stage1.boxes.empty()) << duo::Utf8(stage1.boxes.front());

  sheet = WaitForPage(run, 1);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->PageText(IDC_TEXT1), L"Overwriting successful.\nThe next phase of overwriting will begin.");
  EXPECT_EQ(sheet->PageText(IDC_TEXT2), L"Connect Recorder to USB port and click [Next].");
  EXPECT_FALSE(MarkerExists()) << "stage 1's marker is the wrapper's to delete";
  const sim::Recorder between = ReadRecorder();
  EXPECT_EQ(between.sub.version, "1.01");
  EXPECT_EQ(between.main.version, "1.00");
  ExpectCloseRefused(run, *sheet);

  ASSERT_TRUE(sheet->Press(Sheet::kNext));
  EXPECT_TRUE(Until([&] { return !sheet->Visible(); }, 5000)) << "the sheet stays on the screen while stage 2 runs";
  ExpectCloseRefused(run, *sheet);
  const duo::StageRun stage2 = duo::DriveStage(run.id(), 2);
  EXPECT_TRUE(stage2.seen && stage2.exitCode) << "stage 2 did not run to its end";
  EXPECT_TRUE(stage2.boxes.empty()) << duo::Utf8(stage2.boxes.front());

  const Ending ending = WaitForEnd(run);
  EXPECT_TRUE(ending.exitCode) << "the wrapper did not end after stage 2";
  EXPECT_FALSE(ending.sheetShown) << "a page came back after stage 2";
  const sim::Recorder after = ReadRecorder();
  EXPECT_EQ(after.main.version, "1.01");
  EXPECT_EQ(after.sub.version, "1.01");
  EXPECT_EQ(after.last.target, 0) << "the main processor was written last";
  EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
  EXPECT_FALSE(RegistryText(HKEY_CLASSES_ROOT, kRunIdentityKey, L"RunAs"));
  EXPECT_FALSE(RegistryText(HKEY_CLASSES_ROOT, kExecutableKey, L"AppID"));
}

// A recorder that refuses the preparation fails stage 1, which leaves no marker: the run ends there.
TEST_F(DuoflashTest, FirstStageWithoutMarkerEndsTheRun) {
  ChangeRecorder([](sim::Recorder& r) { r.faults.push_back(sim::Fault{sim::FaultKind::RefusePrepare}); });
  const sim::Recorder before = ReadRecorder();
  Process run(ProgramPath(ZT_DUOFLASH_SIM), L"", Env());
  ASSERT_TRUE(run.started()) << run.error();
  const std::optional<Sheet> sheet = WaitForPage(run, 0);
  ASSERT_TRUE(sheet);
  ASSERT_TRUE(sheet->Press(Sheet::kNext));

  const duo::StageRun stage1 = duo::DriveStage(run.id(), 1);
  EXPECT_EQ(stage1.boxes, std::vector<std::wstring>{L"This Update program does not support this firmware version."});
  const Ending ending = WaitForEnd(run);
  EXPECT_TRUE(ending.exitCode) << "the wrapper did not end after stage 1";
  EXPECT_FALSE(ending.sheetShown) << "page 2 was shown";
  EXPECT_FALSE(ending.secondStage) << "stage 2 was started";
  const sim::Recorder after = ReadRecorder();
  EXPECT_EQ(after.main.version, before.main.version);
  EXPECT_EQ(after.sub.version, before.sub.version);
  EXPECT_FALSE(after.last.present);
  EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
}

// A marker an earlier run left behind is gone before the first page shows, so a stage 1 that is
// closed before it has done anything ends the run as well.
TEST_F(DuoflashTest, StaleMarkerIsDeletedAndDoesNotStartTheSecondStage) {
  std::ofstream(temp_ / kMarker) << "";
  ChangeRecorder([](sim::Recorder& r) { r.attached = false; });
  Process run(ProgramPath(ZT_DUOFLASH_SIM), L"", Env());
  ASSERT_TRUE(run.started()) << run.error();
  const std::optional<Sheet> sheet = WaitForPage(run, 0);
  ASSERT_TRUE(sheet);
  EXPECT_FALSE(MarkerExists());
  ASSERT_TRUE(sheet->Press(Sheet::kNext));

  // Stage 1 waits for a recorder; it is closed as a user cannot close it, leaving nothing.
  HWND stageSheet = nullptr;
  ASSERT_TRUE(Until([&] {
    for (DWORD id : duo::ChildProcessesNamed(run.id(), L"st1Updata.exe")) stageSheet = duo::FindSheet(id, true);
    return stageSheet != nullptr;
  })) << "stage 1 showed no wizard";
  PostMessageW(stageSheet, WM_CLOSE, 0, 0);

  const Ending ending = WaitForEnd(run);
  EXPECT_TRUE(ending.exitCode) << "the wrapper did not end after stage 1";
  EXPECT_FALSE(ending.sheetShown) << "page 2 was shown";
  EXPECT_FALSE(ending.secondStage) << "stage 2 was started";
  EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
}

// Cancel, or the title bar's Close, on page 1 ends the wrapper before any stage, and nothing of it
// is left behind.
TEST_F(DuoflashTest, LeavingPageOneEndsBeforeAnyStage) {
  const struct {
    const char* how;
    std::function<void(const Sheet&)> leave;
  } cases[] = {
      {"Cancel", [](const Sheet& s) { EXPECT_TRUE(s.Press(Sheet::kCancel)); }},
      {"Close", [](const Sheet& s) { s.Close(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    Process run(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"12"));
    ASSERT_TRUE(run.started()) << run.error();
    const std::optional<Sheet> sheet = WaitForPage(run, 0);
    ASSERT_TRUE(sheet);
    c.leave(*sheet);
    EXPECT_TRUE(run.WaitExit(5000)) << "still running";
    EXPECT_TRUE(StageLog().empty()) << "a stage was started";
    EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
    EXPECT_FALSE(RegistryText(HKEY_CLASSES_ROOT, kRunIdentityKey, L"RunAs"));
  }
}

TEST_F(DuoflashTest, SecondCopyEndsAtOnceWithoutAWindow) {
  Process first(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"12"));
  ASSERT_TRUE(first.started()) << first.error();
  const std::optional<Sheet> sheet = WaitForPage(first, 0);
  ASSERT_TRUE(sheet);

  Process second(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"12"));
  ASSERT_TRUE(second.started()) << second.error();
  bool windowSeen = false;
  EXPECT_TRUE(second.WaitExit(10000, [&] { windowSeen |= !duo::WindowsOf(second.id()).empty(); }))
      << "the second copy still runs";
  EXPECT_FALSE(windowSeen);
  EXPECT_EQ(TempFiles(), kWrapperFiles) << "the second copy touched the first one's files";
  EXPECT_EQ(sheet->Page(), 0);

  EXPECT_TRUE(sheet->Press(Sheet::kCancel));
  EXPECT_TRUE(first.WaitExit(5000));
}

// The stages' command lines, Close refused while they run and between them, the pages' layout, and
// a marker left by stage 2 cleared away.
TEST_F(DuoflashTest, StagesRunWithTheirSwitchesBehindTheHiddenSheet) {
  Process run(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"12"));
  ASSERT_TRUE(run.started()) << run.error();
  std::optional<Sheet> sheet = WaitForPage(run, 0);
  ASSERT_TRUE(sheet);

  // Page 1 puts its texts into the column once, and leaves a text that has been moved where it is.
  RECT page{};
  GetWindowRect(sheet->PageWindow(), &page);
  const int offset = ColumnOffset(Width(page));
  for (int text : {IDC_TEXT1, IDC_TEXT2}) {
    const RECT rect = sheet->PageControlRect(text);
    EXPECT_EQ(rect.left, offset) << text;
    EXPECT_EQ(Width(rect), kColumnWidth) << text;
  }
  const auto moveTo = [&](int text, int left) {
    const HWND item = GetDlgItem(sheet->PageWindow(), text);
    SetWindowPos(item, nullptr, left, sheet->PageControlRect(text).top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  };
  moveTo(IDC_TEXT1, 7);
  moveTo(IDC_TEXT2, 0);
  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(sheet->handle(), PSM_SETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer));
  EXPECT_EQ(sheet->PageControlRect(IDC_TEXT1).left, 7) << "a moved text was moved again";
  EXPECT_EQ(sheet->PageControlRect(IDC_TEXT2).left, offset) << "a text at the edge stays there";

  Hold(true);
  ASSERT_TRUE(sheet->Press(Sheet::kNext));
  EXPECT_TRUE(Until([&] { return !sheet->Visible() && StageLog().size() == 1; }, 10000));
  ExpectCloseRefused(run, *sheet);
  Hold(false);

  sheet = WaitForPage(run, 1);
  ASSERT_TRUE(sheet);
  const Sheet::Button next = sheet->ButtonState(Sheet::kNext), cancel = sheet->ButtonState(Sheet::kCancel);
  EXPECT_TRUE(next.shown && next.enabled);
  EXPECT_FALSE(cancel.showable);
  EXPECT_TRUE(Same(next.rect, cancel.rect)) << Show(next.rect) << " is not " << Show(cancel.rect);
  EXPECT_FALSE(sheet->ButtonState(Sheet::kBack).showable);
  for (int text : {IDC_TEXT1, IDC_TEXT2}) {
    const RECT rect = sheet->PageControlRect(text);
    EXPECT_EQ(rect.left, offset) << text;
    EXPECT_EQ(Width(rect), kColumnWidth) << text;
  }
  ExpectCloseRefused(run, *sheet);

  Hold(true);
  ASSERT_TRUE(sheet->Press(Sheet::kNext));
  EXPECT_TRUE(Until([&] { return !sheet->Visible() && StageLog().size() == 2; }, 10000));
  sheet = WaitForPage(run, 2, false);
  ASSERT_TRUE(sheet);
  const Sheet::Button finish = sheet->ButtonState(Sheet::kFinish);
  EXPECT_TRUE(finish.showable);
  EXPECT_TRUE(Same(finish.rect, cancel.rect)) << Show(finish.rect) << " is not " << Show(cancel.rect);
  EXPECT_FALSE(sheet->ButtonState(Sheet::kNext).showable);
  EXPECT_FALSE(sheet->ButtonState(Sheet::kCancel).showable);
  EXPECT_FALSE(sheet->ButtonState(Sheet::kBack).showable);
  EXPECT_EQ(sheet->PageText(IDC_TEXT1), L"The update has not been done properly.\nPlease update again.");
  EXPECT_EQ(sheet->PageControlRect(IDC_TEXT1).left, offset);
  ExpectCloseRefused(run, *sheet);
  Hold(false);

  const Ending ending = WaitForEnd(run);
  EXPECT_TRUE(ending.exitCode);
  EXPECT_FALSE(ending.sheetShown);
  const std::wstring folder = temp_.wstring() + L"\\";
  const std::vector<std::wstring> log = StageLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(_wcsicmp(log[0].c_str(), (folder + L"st1Updata.exe| -nc1").c_str()), 0) << duo::Utf8(log[0]);
  EXPECT_EQ(_wcsicmp(log[1].c_str(), (folder + L"st2Updata.exe| -nc2").c_str()), 0) << duo::Utf8(log[1]);
  EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
}

// Next pressed twice on page 1 (a double click, or Enter typed ahead) reaches page 2 behind the
// hidden sheet while stage 1 runs; one stage runs at a time, and page 2 waits for its own Next.
TEST_F(DuoflashTest, NextPressedTwiceStartsOneStage) {
  Process run(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"1"));
  ASSERT_TRUE(run.started()) << run.error();
  std::optional<Sheet> sheet = WaitForPage(run, 0);
  ASSERT_TRUE(sheet);
  Hold(true);
  ASSERT_TRUE(sheet->Press(Sheet::kNext));
  ASSERT_TRUE(sheet->Press(Sheet::kNext));
  EXPECT_TRUE(Until([&] { return !sheet->Visible() && StageLog().size() == 1; }, 10000));
  EXPECT_FALSE(Until([&] { return StageLog().size() > 1; }, 1000)) << "a second stage started";
  EXPECT_EQ(sheet->Page(), 1);
  Hold(false);

  sheet = WaitForPage(run, 1);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(StageLog().size(), 1u);
  ASSERT_TRUE(sheet->Press(Sheet::kNext));
  EXPECT_TRUE(WaitForEnd(run).exitCode);
  EXPECT_EQ(StageLog().size(), 2u);
}

// Closing the hidden window from outside while a stage runs ends the wrapper, and leaves the stage to
// finish on its own.
TEST_F(DuoflashTest, WindowClosedWhileAStageRunsLeavesTheStageRunning) {
  Process run(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"12"));
  ASSERT_TRUE(run.started()) << run.error();
  const std::optional<Sheet> sheet = WaitForPage(run, 0);
  ASSERT_TRUE(sheet);
  Hold(true);
  ASSERT_TRUE(sheet->Press(Sheet::kNext));
  std::vector<DWORD> stage;
  ASSERT_TRUE(Until([&] { return !(stage = duo::ChildProcessesNamed(run.id(), L"st1Updata.exe")).empty(); }));
  PostMessageW(sheet->handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitForEnd(run).exitCode) << "the wrapper did not end";
  EXPECT_TRUE(duo::ProcessRunning(stage.front())) << "the stage went with the wrapper";
  Hold(false);
  EXPECT_TRUE(Until([&] { return !duo::ProcessRunning(stage.front()); }, 10000));
  // The program of the stage that ran on could not be deleted; nothing else stays.
  std::set<std::wstring> left = TempFiles();
  left.erase(L"st1Updata.exe");
  left.erase(kMarker);  // the stage's own, written after the wrapper had gone
  EXPECT_TRUE(left.empty()) << duo::Utf8(*left.begin());
}

// A stage may end with the code that also stands for a process still running; it must be seen to
// end all the same.
TEST_F(DuoflashTest, StageEndingWithTheStillActiveCodeIsSeenToEnd) {
  const struct {
    const char* what;
    const wchar_t* marker;
    size_t stages;
  } cases[] = {
      {"stage 1 leaves its marker", L"1", 2},
      {"stage 1 leaves none", L"", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(root_ / "stages.log");
    Process run(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(c.marker, std::to_wstring(STILL_ACTIVE)));
    ASSERT_TRUE(run.started()) << run.error();
    std::optional<Sheet> sheet = WaitForPage(run, 0);
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(sheet->Press(Sheet::kNext));
    if (c.stages == 2) {
      sheet = WaitForPage(run, 1);
      ASSERT_TRUE(sheet);
      ASSERT_TRUE(sheet->Press(Sheet::kNext));
    }
    const Ending ending = WaitForEnd(run);
    EXPECT_TRUE(ending.exitCode) << "the wrapper waits for a stage that has ended";
    EXPECT_EQ(StageLog().size(), c.stages);
    EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
  }
}

// A payload whose configuration declares another size than it carries says so, and no page follows.
TEST_F(DuoflashTest, DamagedPayloadShowsItsCodeAndNoPage) {
  const fs::path damaged = root_ / "damaged" / "Duoflash.exe";
  fs::create_directories(damaged.parent_path());
  fs::copy_file(ZT_DUOFLASH_STANDIN, damaged);
  std::string ini = ReadBytes(fs::path(ZT_STANDIN_BUNDLE) / "TWINFLASH.INI");
  const size_t at = ini.find("IdBinSt2UpdataExe=") + std::string("IdBinSt2UpdataExe=").size();
  ini.insert(at, "1");  // ten times as large and then some
  const HANDLE update = BeginUpdateResourceW(damaged.c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  ASSERT_TRUE(UpdateResourceW(update, L"BIN", MAKEINTRESOURCEW(137), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), ini.data(),
                              static_cast<DWORD>(ini.size())));
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE));

  Process run(damaged.wstring(), L"", Env(L"12"));
  ASSERT_TRUE(run.started()) << run.error();
  HWND box = nullptr;
  ASSERT_TRUE(Until([&] { return (box = duo::FindMessageBox(run.id(), L"Duoflash")) != nullptr; })) << "no box";
  EXPECT_EQ(duo::MessageBoxText(box), L"Apprication Error(0x00010040)");
  EXPECT_EQ(duo::FindSheet(run.id(), false), nullptr) << "a sheet was made";
  EXPECT_EQ(TempFiles(), std::set<std::wstring>{L"TWINFLASH.INI"});
  duo::PressOk(box);
  const Ending ending = WaitForEnd(run);
  EXPECT_TRUE(ending.exitCode);
  EXPECT_FALSE(ending.sheetShown);
  EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
}

// Windows NT 4 is refused with a message and no page; on Windows 2000 the wrapper runs without the
// autoplay-cancel library, which that system does not need, and without its registry entries.
TEST_F(DuoflashTest, OlderSystems) {
  {
    SCOPED_TRACE("Windows NT 4");
    const WindowsVersionForWrapper version(L"nt40");
    Process run(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"12"));
    ASSERT_TRUE(run.started()) << run.error();
    HWND box = nullptr;
    ASSERT_TRUE(Until([&] { return (box = duo::FindMessageBox(run.id(), L"Duoflash")) != nullptr; })) << "no box";
    EXPECT_EQ(duo::MessageBoxText(box),
              L"The application cannot be opened due to imcompatibility with this operating system.");
    EXPECT_EQ(duo::FindSheet(run.id(), false), nullptr) << "a sheet was made";
    duo::PressOk(box);
    const Ending ending = WaitForEnd(run);
    EXPECT_TRUE(ending.exitCode);
    EXPECT_FALSE(ending.sheetShown);
    EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
  }
  {
    SCOPED_TRACE("Windows 2000");
    const WindowsVersionForWrapper version(L"win2k");
    Process run(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"12"));
    ASSERT_TRUE(run.started()) << run.error();
    const std::optional<Sheet> sheet = WaitForPage(run, 0);
    ASSERT_TRUE(sheet);
    std::set<std::wstring> expected = kWrapperFiles;
    expected.erase(L"WDSSCancel.dll");
    EXPECT_EQ(TempFiles(), expected);
    EXPECT_FALSE(HasModule(run.id(), L"WDSSCancel.dll"));
    EXPECT_FALSE(RegistryText(HKEY_CLASSES_ROOT, kRunIdentityKey, L"RunAs"));
    EXPECT_TRUE(sheet->Press(Sheet::kCancel));
    EXPECT_TRUE(run.WaitExit(5000));
    EXPECT_TRUE(TempFiles().empty()) << duo::Utf8(*TempFiles().begin());
  }
}

// Run once per locale by CTest: every page in the system's language, and the Chinese variants as
// the whole language identifier chooses them (Hong Kong has no column of its own).
TEST_F(DuoflashTest, PagesInTheSystemLanguage) {
  const struct {
    const char* locale;
    LANGID language;
    const char* column;
  } locales[] = {
      {"de_DE.UTF-8", 0x0407, "DEU"}, {"ja_JP.UTF-8", 0x0411, "JPN"}, {"zh_TW.UTF-8", 0x0404, "CHT"},
      {"zh_CN.UTF-8", 0x0804, "CHS"}, {"zh_HK.UTF-8", 0x0C04, "ENU"},
  };
  const char* locale = std::getenv("LC_ALL");
  const auto* match = locale ? std::find_if(std::begin(locales), std::end(locales),
                                            [&](const auto& l) { return std::string(l.locale) == locale; })
                             : std::end(locales);
  if (match == std::end(locales)) GTEST_SKIP() << "runs only under the locales of its CTest entries";
  ASSERT_EQ(GetSystemDefaultLangID(), match->language) << "Wine no longer maps " << match->locale << " this way";
  const GlossaryColumn text(match->column);

  Process run(ProgramPath(ZT_DUOFLASH_STANDIN), L"", Env(L"1"));
  ASSERT_TRUE(run.started()) << run.error();
  std::optional<Sheet> sheet = WaitForPage(run, 0);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(duo::TextOf(sheet->handle()), text(wrapper_text::kTitle));
  EXPECT_EQ(sheet->PageText(IDC_TEXT1), text.WithModel(wrapper_text::kOpening));
  EXPECT_EQ(sheet->PageText(IDC_TEXT2), text(wrapper_text::kConnect));
  EXPECT_EQ(sheet->ButtonState(Sheet::kNext).text, text(wrapper_text::kNext));
  EXPECT_EQ(sheet->ButtonState(Sheet::kCancel).text, text(wrapper_text::kCancel));
  ASSERT_TRUE(sheet->Press(Sheet::kNext));

  sheet = WaitForPage(run, 1);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(duo::TextOf(sheet->handle()), text(wrapper_text::kTitle));
  EXPECT_EQ(sheet->PageText(IDC_TEXT1), text(wrapper_text::kFirstStageDone));
  EXPECT_EQ(sheet->PageText(IDC_TEXT2), text(wrapper_text::kConnectAgain));
  EXPECT_EQ(sheet->ButtonState(Sheet::kNext).text, text(wrapper_text::kNext));
  Hold(true);
  ASSERT_TRUE(sheet->Press(Sheet::kNext));

  sheet = WaitForPage(run, 2, false);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->PageText(IDC_TEXT1), text(wrapper_text::kUpdateFailed));
  EXPECT_EQ(sheet->ButtonState(Sheet::kFinish).text, text(wrapper_text::kFinish));
  Hold(false);
  EXPECT_TRUE(WaitForEnd(run).exitCode);
}

}  // namespace
