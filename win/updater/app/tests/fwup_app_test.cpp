// The application object end to end: real mutexes, real windows on another thread playing the resident
// programs, real processes and start-up entries played by resident_standin.exe. The two runs are the
// doubles below; they look at what the application did before them.

#include "win/updater/app/fwup_app.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <winternl.h>

#include <atomic>
#include <chrono>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "win/updater/app/runs.h"

namespace fs = std::filesystem;

namespace {

struct RunDoubles {
  int wizardRuns = 0;
  int silentRuns = 0;
  std::function<void(CFwUpBaseApp&)> duringWizard;
  std::function<int(CFwUpBaseApp&)> silentRun;
};
RunDoubles g_runs;

}  // namespace

void RunWizardSheet(CFwUpBaseApp& app) {
  ++g_runs.wizardRuns;
  if (g_runs.duringWizard) g_runs.duringWizard(app);
}

int RunSilentUpdate(CFwUpBaseApp& app) {
  ++g_runs.silentRuns;
  return g_runs.silentRun ? g_runs.silentRun(app) : 1;
}

namespace {

constexpr const char* kProgram = "Monoflash.exe";

class TestApp : public CFwUpBaseApp {
 public:
  explicit TestApp(std::vector<std::string> arguments, std::optional<DWORD> reportedMajor = std::nullopt)
      : reportedMajor_(reportedMajor) {
    SetArguments(std::move(arguments));
  }
  int RunToEnd() { return Run(GetModuleHandleA(nullptr)); }
  void MarkHidCommandSent() { HidCommandSent = true; }

 protected:
  void FillOsVersion() override {
    CFwUpBaseApp::FillOsVersion();
    if (reportedMajor_) OsVersion.dwMajorVersion = *reportedMajor_;
  }

 private:
  std::optional<DWORD> reportedMajor_;
};

bool MutexExists(const char* name) { return win::ScopedHandle(OpenMutexA(SYNCHRONIZE, FALSE, name)).valid(); }

// Whether another thread could take the mutex now, i.e. it exists and nobody owns it.
bool MutexFreeForOthers(const char* name) {
  bool free = false;
  std::thread([&] {
    win::ScopedHandle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
    if (mutex && WaitForSingleObject(mutex.get(), 0) == WAIT_OBJECT_0) {
      free = true;
      ReleaseMutex(mutex.get());
    }
  }).join();
  return free;
}

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
  for (int waited = 0;; waited += 50) {
    if (done()) return true;
    if (waited >= milliseconds) return false;
    Sleep(50);
  }
}

fs::path StandinExe() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  return fs::path(self).parent_path() / "resident_standin.exe";
}

// Top-level windows like the resident programs' own, on a thread of their own so that SendMessage
// really has to wait. Each handler notes whether its sender waits for it, and takes its time before it
// counts the message.
class ResidentWindows {
 public:
  struct Window {
    const char* className;
    const char* title;
    UINT expected;
    std::atomic<int> received{0};
    std::atomic<int> posted{0};  // arrived without a sender waiting for the answer
    std::atomic<int> stray{0};
  };
  Window plugMonitor{"ZtTestResident", "Plug Monitor", 0x2520};
  Window plugMonitor4{"ZtTestResident", "Plug Monitor4", 0x2521};
  Window penwave{"PenwaveConfig", "Penwave", 0x8100};

  ResidentWindows() {
    thread_ = std::thread([this] { Loop(); });
    EXPECT_EQ(WaitForSingleObject(ready_.get(), 10000), WAIT_OBJECT_0);
  }
  ~ResidentWindows() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  int Stray() const {
    return plugMonitor.stray + plugMonitor4.stray + penwave.stray + plugMonitor.posted + plugMonitor4.posted +
           penwave.posted;
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (window && (message == 0x2520 || message == 0x2521 || message == 0x8100)) {
      if (!InSendMessage()) ++window->posted;
      Sleep(200);
      ++(message == window->expected ? window->received : window->stray);
      return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }

  void Loop() {
    threadId_ = GetCurrentThreadId();
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const char* name : {"ZtTestResident", "PenwaveConfig"}) {
      WNDCLASSA wc{};
      wc.lpfnWndProc = Proc;
      wc.hInstance = instance;
      wc.lpszClassName = name;
      RegisterClassA(&wc);
    }
    std::vector<HWND> windows;
    for (Window* w : {&plugMonitor, &plugMonitor4, &penwave}) {
      HWND hwnd = CreateWindowA(w->className, w->title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
      EXPECT_NE(hwnd, nullptr) << w->title;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
      windows.push_back(hwnd);
    }
    SetEvent(ready_.get());
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    for (HWND hwnd : windows) DestroyWindow(hwnd);
    UnregisterClassA("ZtTestResident", instance);
    UnregisterClassA("PenwaveConfig", instance);
  }

  win::ScopedHandle ready_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<DWORD> threadId_{0};
  std::thread thread_;
};

// A copy of the stand-in under a resident program's executable name, running until it is stopped.
class LingeringProcess {
 public:
  LingeringProcess(const fs::path& folder, const std::string& exeName) : path_(folder / exeName) {
    fs::copy_file(StandinExe(), path_, fs::copy_options::overwrite_existing);
    std::string commandLine = "\"" + path_.string() + "\" --linger";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcessA(path_.string().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    process_.Reset(info.hProcess);
    win::ScopedHandle thread(info.hThread);
    // Running for sure, so the snapshot of the process list has it.
    WaitUntil([&] { return fs::exists(path_.string() + ".started"); }, 10000);
  }
  ~LingeringProcess() {
    if (Running()) TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), 5000);
  }
  bool Running() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  bool EndsWithin(int milliseconds) const { return WaitForSingleObject(process_.get(), milliseconds) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  fs::path path_;
  win::ScopedHandle process_;
};

class TempFolder {
 public:
  TempFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    path_ = fs::path(temp) / ("zt-app-test-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The resident programs' entries in the all-users start-up folder, played by the stand-in. Removed
// again in any case: the folder belongs to the test prefix, and whatever stays there is started at
// the next log-on.
class StartupEntries {
 public:
  static constexpr const char* kEntries[] = {"Plug Monitor 3", "Plug Monitor 4", "Penwave Configuration Tool"};

  StartupEntries() {
    char folder[MAX_PATH] = {};
    EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_STARTUP, TRUE));
    folder_ = folder;
    Remove();
    for (const char* entry : kEntries) {
      fs::copy_file(StandinExe(), Exe(entry), fs::copy_options::overwrite_existing);
    }
  }
  ~StartupEntries() {
    Sleep(300);  // a copy just started may still hold its file
    Remove();
  }
  // The show command the entry was started with; nothing when it was not started within the time.
  std::optional<int> StartedWith(const char* entry, int milliseconds) const {
    const fs::path marker = Exe(entry).string() + ".started";
    if (!WaitUntil([&] { return fs::exists(marker); }, milliseconds)) return std::nullopt;
    int show = -2;
    std::ifstream(marker) >> show;
    return show;
  }

 private:
  fs::path Exe(const char* entry) const { return folder_ / (std::string(entry) + ".exe"); }
  void Remove() const {
    for (const char* entry : kEntries) {
      for (const std::string& p : {Exe(entry).string(), Exe(entry).string() + ".started"}) {
        WaitUntil([&] { return DeleteFileA(p.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }, 3000);
      }
    }
  }
  fs::path folder_;
};

class AppTest : public testing::Test {
 protected:
  void SetUp() override { g_runs = {}; }
  void TearDown() override { g_runs = {}; }
};

// ---- Single instance ----

struct SecondCopyCase {
  bool heldAsMutex;  // otherwise the name is taken by an event, so the mutex cannot be created
  const char* option;
};

class SecondCopyTest : public AppTest, public testing::WithParamInterface<SecondCopyCase> {};

TEST_P(SecondCopyTest, EndsAtOnceWithExitCodeZero) {
  const SecondCopyCase& c = GetParam();
  const char* name = "KESTREL-AUDIO-FWUPTOOL";
  win::ScopedHandle holder(c.heldAsMutex ? CreateMutexA(nullptr, FALSE, name) : CreateEventA(nullptr, TRUE, FALSE, name));
  ASSERT_TRUE(holder.valid());
  ResidentWindows windows;

  TestApp app({kProgram, c.option}, 5);
  EXPECT_EQ(app.RunToEnd(), 0);

  EXPECT_EQ(g_runs.wizardRuns + g_runs.silentRuns, 0);
  EXPECT_FALSE(MutexExists("KESTREL-DICTATION"));
  EXPECT_EQ(windows.plugMonitor.received + windows.plugMonitor4.received + windows.penwave.received, 0);
  if (c.heldAsMutex) {
    EXPECT_TRUE(MutexFreeForOthers(name)) << "the first copy's mutex stays as it was";
  }
}

INSTANTIATE_TEST_SUITE_P(Holders, SecondCopyTest,
                         testing::Values(SecondCopyCase{true, "-nc1"}, SecondCopyCase{true, "-silent"},
                                         SecondCopyCase{false, "-nc1"}, SecondCopyCase{false, "-silent"}));

// ---- Run choice and exit code ----

struct RunChoiceCase {
  std::vector<std::string> arguments;
  int silentResult;  // what the silent run returns, when it runs
  bool silent;
  int chainedStage;
  int exitCode;
};

void PrintTo(const RunChoiceCase& c, std::ostream* os) {
  for (const std::string& a : c.arguments) *os << a << " ";
  *os << "(silent run gives " << c.silentResult << ")";
}

class RunChoiceTest : public AppTest, public testing::WithParamInterface<RunChoiceCase> {};

TEST_P(RunChoiceTest, RunsOneModeAndEndsWithItsExitCode) {
  const RunChoiceCase& c = GetParam();
  int stageSeen = -1;
  bool chainedSeen = false;
  bool instanceHeld = false;
  auto look = [&](CFwUpBaseApp& app) {
    stageSeen = app.GetChainedStage();
    chainedSeen = app.IsChainedRun();
    instanceHeld = MutexFreeForOthers("KESTREL-AUDIO-FWUPTOOL");
  };
  g_runs.duringWizard = look;
  g_runs.silentRun = [&](CFwUpBaseApp& app) {
    look(app);
    return c.silentResult;
  };

  TestApp app(c.arguments);
  EXPECT_EQ(app.RunToEnd(), c.exitCode);

  EXPECT_EQ(g_runs.wizardRuns, c.silent ? 0 : 1);
  EXPECT_EQ(g_runs.silentRuns, c.silent ? 1 : 0);
  EXPECT_EQ(stageSeen, c.chainedStage);
  EXPECT_EQ(chainedSeen, c.chainedStage != 0);
  EXPECT_TRUE(instanceHeld) << "the single-instance mutex exists during the run and is not owned";
  EXPECT_FALSE(MutexExists("KESTREL-AUDIO-FWUPTOOL")) << "and is closed at the end";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RunChoiceTest,
    testing::Values(RunChoiceCase{{kProgram}, 0, false, 0, 1},
                    RunChoiceCase{{kProgram, "-nc1"}, 0, false, 1, 1},
                    RunChoiceCase{{kProgram, "-NC1", "-nc2", "-dm", "-drive:E"}, 0, false, 2, 1},
                    RunChoiceCase{{kProgram, "-silentx"}, 0, false, 0, 1},
                    RunChoiceCase{{kProgram, "-silent"}, 0, true, 0, 0},
                    RunChoiceCase{{kProgram, "-SILENT", "-nc2"}, 1, true, 2, 1},
                    RunChoiceCase{{kProgram, "-silent"}, 5, true, 0, 5}));

// ---- Dictation mutexes ----

TEST_F(AppTest, WizardRunHoldsTheDictationMutexesOnlyDuringTheWizard) {
  g_runs.duringWizard = [](CFwUpBaseApp&) {
    // Held so that the dictation programs see them, but not owned, so that they are not blocked.
    EXPECT_TRUE(MutexFreeForOthers("KESTREL-DICTATION"));
    EXPECT_TRUE(MutexFreeForOthers("TRANSCRIPTION_MUTEX"));
  };
  TestApp app({kProgram});
  EXPECT_EQ(app.RunToEnd(), 1);
  EXPECT_EQ(g_runs.wizardRuns, 1);
  EXPECT_FALSE(MutexExists("KESTREL-DICTATION"));
  EXPECT_FALSE(MutexExists("TRANSCRIPTION_MUTEX"));
}

class ForeignMutexTest : public AppTest, public testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(ForeignMutexTest, WizardStillRunsAndHoldsNoHandleToIt) {
  const auto [foreign, other] = GetParam();
  win::ScopedHandle holder(CreateMutexA(nullptr, FALSE, foreign));
  ASSERT_TRUE(holder.valid());
  g_runs.duringWizard = [&](CFwUpBaseApp&) {
    holder.Reset();
    EXPECT_FALSE(MutexExists(foreign)) << "gone with the other program's handle";
    EXPECT_TRUE(MutexExists(other));
  };
  TestApp app({kProgram});
  EXPECT_EQ(app.RunToEnd(), 1);
  EXPECT_EQ(g_runs.wizardRuns, 1);
  EXPECT_FALSE(MutexExists(other));
}

INSTANTIATE_TEST_SUITE_P(Names, ForeignMutexTest,
                         testing::Values(std::pair{"KESTREL-DICTATION", "TRANSCRIPTION_MUTEX"},
                                         std::pair{"TRANSCRIPTION_MUTEX", "KESTREL-DICTATION"}));

// ---- Resident programs ----

struct ResidentCase {
  DWORD major;
  bool windowsPresent;
  bool messaged;                // "Plug Monitor" and "Plug Monitor4" got their messages
  bool processesStopped;        // "PlgMntr2.exe" and "PlgMntr4.exe" were terminated
  std::optional<int> monitorShow;  // how "Plug Monitor 3" and "Plug Monitor 4" were restarted
  std::optional<int> penwaveShow;
};

void PrintTo(const ResidentCase& c, std::ostream* os) {
  *os << "major " << c.major << (c.windowsPresent ? ", windows present" : ", no windows");
}

class ResidentProgramsTest : public AppTest, public testing::WithParamInterface<ResidentCase> {};

TEST_P(ResidentProgramsTest, WizardRunTakesOverAndGivesBack) {
  const ResidentCase& c = GetParam();
  TempFolder temp;
  StartupEntries entries;
  LingeringProcess plgMntr2(temp.path(), "PlgMntr2.exe");
  LingeringProcess plgMntr4(temp.path(), "PlgMntr4.exe");
  std::optional<ResidentWindows> windows;
  if (c.windowsPresent) windows.emplace();

  g_runs.duringWizard = [&](CFwUpBaseApp&) {
    if (windows) {
      // The handlers need 200 ms each: counted already means the sender waited for them.
      EXPECT_EQ(windows->plugMonitor.received, c.messaged ? 1 : 0);
      EXPECT_EQ(windows->plugMonitor4.received, c.messaged ? 1 : 0);
      EXPECT_EQ(windows->penwave.received, 1);
    }
    if (c.processesStopped) {
      EXPECT_TRUE(plgMntr2.EndsWithin(5000));
      EXPECT_TRUE(plgMntr4.EndsWithin(5000));
    }
    EXPECT_FALSE(entries.StartedWith("Plug Monitor 3", 0)) << "restarts come after the wizard";
    EXPECT_FALSE(entries.StartedWith("Penwave Configuration Tool", 0));
  };

  TestApp app({kProgram}, c.major);
  EXPECT_EQ(app.RunToEnd(), 1);
  ASSERT_EQ(g_runs.wizardRuns, 1);

  if (windows) {
    EXPECT_EQ(windows->Stray(), 0);
  }
  if (c.processesStopped) {
    EXPECT_EQ(plgMntr2.ExitCode(), 0u);
    EXPECT_EQ(plgMntr4.ExitCode(), 0u);
  } else {
    EXPECT_TRUE(plgMntr2.Running());
    EXPECT_TRUE(plgMntr4.Running());
  }
  // The expected starts get time to show; after them, the others had theirs too.
  EXPECT_EQ(entries.StartedWith("Penwave Configuration Tool", c.penwaveShow ? 10000 : 1500), c.penwaveShow);
  EXPECT_EQ(entries.StartedWith("Plug Monitor 3", c.monitorShow ? 10000 : 300), c.monitorShow);
  EXPECT_EQ(entries.StartedWith("Plug Monitor 4", c.monitorShow ? 10000 : 300), c.monitorShow);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ResidentProgramsTest,
    testing::Values(ResidentCase{5, true, true, false, SW_HIDE, SW_MINIMIZE},
                    ResidentCase{4, true, true, false, SW_HIDE, SW_MINIMIZE},
                    ResidentCase{5, false, false, false, std::nullopt, std::nullopt},
                    ResidentCase{6, true, false, true, std::nullopt, SW_MINIMIZE},
                    ResidentCase{10, false, false, true, std::nullopt, std::nullopt}));

class SilentRunTest : public AppTest, public testing::WithParamInterface<DWORD> {};

TEST_P(SilentRunTest, LeavesResidentProgramsAndDictationMutexesAlone) {
  TempFolder temp;
  StartupEntries entries;
  LingeringProcess plgMntr2(temp.path(), "PlgMntr2.exe");
  ResidentWindows windows;
  g_runs.silentRun = [&](CFwUpBaseApp&) {
    EXPECT_FALSE(MutexExists("KESTREL-DICTATION"));
    EXPECT_FALSE(MutexExists("TRANSCRIPTION_MUTEX"));
    return 0;
  };

  TestApp app({kProgram, "-silent"}, GetParam());
  EXPECT_EQ(app.RunToEnd(), 0);
  ASSERT_EQ(g_runs.silentRuns, 1);

  EXPECT_EQ(windows.plugMonitor.received + windows.plugMonitor4.received + windows.penwave.received, 0);
  EXPECT_TRUE(plgMntr2.Running());
  for (const char* entry : StartupEntries::kEntries) EXPECT_FALSE(entries.StartedWith(entry, 500)) << entry;
}

INSTANTIATE_TEST_SUITE_P(Versions, SilentRunTest, testing::Values(5u, 6u));

TEST(StopProcessByName, StopsTheFirstProcessOfThatNameWhateverTheCase) {
  TempFolder temp;
  LingeringProcess first(temp.path(), "PlgMntr2.exe");
  fs::create_directories(temp.path() / "second");
  LingeringProcess second(temp.path() / "second", "PlgMntr2.exe");

  EXPECT_EQ(StopProcessByName("no-such-program.exe"), -1);
  EXPECT_EQ(StopProcessByName("PlgMntr2"), -1) << "the whole name, extension included";
  EXPECT_EQ(StopProcessByName("PlgMntr2.ex"), -1);
  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(second.Running());

  EXPECT_EQ(StopProcessByName("plgmntr2.EXE"), 0);
  WaitUntil([&] { return !first.Running() || !second.Running(); }, 5000);
  EXPECT_NE(first.Running(), second.Running()) << "exactly one of the two";
  const LingeringProcess& stopped = first.Running() ? second : first;
  EXPECT_EQ(stopped.ExitCode(), 0u);

  EXPECT_EQ(StopProcessByName("PlgMntr2.exe"), 0);
  EXPECT_TRUE(first.EndsWithin(5000));
  EXPECT_TRUE(second.EndsWithin(5000));
  EXPECT_EQ(StopProcessByName("PlgMntr2.exe"), -1);
}

// ---- Operating system version ----

TEST_F(AppTest, OsVersionIsTheSystemsOwnAnswer) {
  TestApp app({kProgram});
  app.RunToEnd();
  OSVERSIONINFOA direct{};
  direct.dwOSVersionInfoSize = sizeof direct;
  ASSERT_TRUE(GetVersionExA(&direct));
  EXPECT_EQ(app.GetOsVersion().dwOSVersionInfoSize, 148u);
  EXPECT_EQ(app.GetOsVersion().dwMajorVersion, direct.dwMajorVersion);
  EXPECT_EQ(app.GetOsVersion().dwMinorVersion, direct.dwMinorVersion);
  EXPECT_EQ(app.GetOsVersion().dwBuildNumber, direct.dwBuildNumber);
}

TEST_F(AppTest, OsIsSupportedFromWindows2000On) {
  const std::pair<DWORD, bool> cases[] = {{3, false}, {4, false}, {5, true}, {6, true}, {10, true}};
  for (const auto& [major, supported] : cases) {
    TestApp app({kProgram, "-silent"}, major);
    std::optional<bool> seen;
    g_runs.silentRun = [&](CFwUpBaseApp& a) {
      seen = a.IsOsSupported();
      return 1;
    };
    app.RunToEnd();
    EXPECT_EQ(seen, supported) << "major " << major;
  }
}

// ---- HID mode command ----

// Counts the loads and unloads of one library through the loader's own notifications.
class LibraryWatch {
 public:
  explicit LibraryWatch(std::wstring baseName) : baseName_(Lower(std::move(baseName))) {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto reg = win::BindExport<Register>(ntdll, "LdrRegisterDllNotification");
    unregister_ = win::BindExport<Unregister>(ntdll, "LdrUnregisterDllNotification");
    if (reg && unregister_ && reg(0, Notify, this, &cookie_) != 0) cookie_ = nullptr;
  }
  ~LibraryWatch() {
    if (cookie_) unregister_(cookie_);
  }
  bool active() const { return cookie_ != nullptr; }
  int loads = 0;
  int unloads = 0;

 private:
  struct NotificationData {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
  };
  using Callback = void(NTAPI*)(ULONG, const NotificationData*, void*);
  using Register = LONG(NTAPI*)(ULONG, Callback, void*, void**);
  using Unregister = LONG(NTAPI*)(void*);

  static std::wstring Lower(std::wstring text) {
    for (wchar_t& ch : text) ch = static_cast<wchar_t>(std::towlower(ch));
    return text;
  }
  static void NTAPI Notify(ULONG reason, const NotificationData* data, void* context) {
    auto* self = static_cast<LibraryWatch*>(context);
    const std::wstring name(data->baseName->Buffer, data->baseName->Length / sizeof(wchar_t));
    if (Lower(name) != self->baseName_) return;
    ++(reason == 1 ? self->loads : self->unloads);
  }

  std::wstring baseName_;
  Unregister unregister_ = nullptr;
  void* cookie_ = nullptr;
};

TEST(HidModeCommand, WithoutRecordersNothingIsFoundOrSentAndTheLibraryIsReleased) {
  TestApp app({kProgram});
  LibraryWatch hid(L"hid.dll");
  if (!hid.active() || GetModuleHandleA("hid.dll")) GTEST_SKIP() << "library loads cannot be watched here";
  EXPECT_FALSE(app.IsKnownRecorderPresent());
  EXPECT_FALSE(app.SendHidModeCommand());
  EXPECT_FALSE(app.SendHidModeCommand()) << "nothing was sent, so it may be tried again";
  EXPECT_EQ(hid.loads, 2);
  EXPECT_EQ(hid.unloads, 2);
  EXPECT_EQ(GetModuleHandleA("hid.dll"), nullptr);
}

TEST(HidModeCommand, OnceSentBothAnswerFalseAtOnceUntilCleared) {
  TestApp app({kProgram});
  app.MarkHidCommandSent();
  LibraryWatch hid(L"hid.dll");
  if (!hid.active() || GetModuleHandleA("hid.dll")) GTEST_SKIP() << "library loads cannot be watched here";
  EXPECT_FALSE(app.IsKnownRecorderPresent());
  EXPECT_FALSE(app.SendHidModeCommand());
  EXPECT_EQ(hid.loads, 0) << "not even the library was loaded";

  app.ClearHidCommandSent();
  EXPECT_FALSE(app.SendHidModeCommand());
  EXPECT_EQ(hid.loads, 1);
  EXPECT_EQ(hid.unloads, 1);
}

}  // namespace
