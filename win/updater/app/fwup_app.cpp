#include "win/updater/app/fwup_app.h"

#include <shlobj.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>

#include "common/command_line.h"
#include "win/updater/app/runs.h"

namespace {

// The size the updater has always announced to GetVersionExA: the plain record, not the extended one.
static_assert(sizeof(OSVERSIONINFOA) == 148);

// From this major version on, the resident programs no longer react to their messages and have to be
// stopped as processes.
constexpr DWORD kFirstMajorWithoutResidentMessages = 6;

constexpr UINT kPlugMonitorReleaseDevice = 0x2520;
constexpr UINT kPlugMonitor4ReleaseDevice = 0x2521;
constexpr UINT kPenwaveConfigReleaseDevice = 0x8100;

// A mutex that this process created; a name somebody else already holds is left to its owner.
win::ScopedHandle CreateNewMutex(const char* name) {
  win::ScopedHandle mutex(CreateMutexA(nullptr, FALSE, name));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) mutex.Reset();
  return mutex;
}

// The resident programs are installed as entries of the all-users start-up folder, so starting the
// entry starts them the way the system would at log-on. A missing entry is not worth a message.
void RestartFromCommonStartup(const char* entry, int show) {
  char folder[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_STARTUP, FALSE)) return;
  char path[2 * MAX_PATH];
  std::snprintf(path, sizeof path, "%s\\%s", folder, entry);
  ShellExecuteA(nullptr, nullptr, path, nullptr, nullptr, show);
}

}  // namespace

CFwUpBaseApp::CFwUpBaseApp() = default;

BOOL CFwUpBaseApp::InitInstance() {
  // Two updaters writing to one recorder would ruin its flash, so a second copy leaves without a word.
  win::ScopedHandle instanceMutex(CreateMutexA(nullptr, FALSE, "KESTREL-AUDIO-FWUPTOOL"));
  if (!instanceMutex || GetLastError() == ERROR_ALREADY_EXISTS) return FALSE;

  const CommandLineOptions options = ParseCommandLine(arguments());
  ChainedRun = options.ChainedRun;
  ChainedStage = options.ChainedStage;

  PlugMonitorWindow = nullptr;
  PenwaveConfigWindow = nullptr;
  PlugMonitor4Window = nullptr;
  DmOption = false;
  SilentOption = false;
  DriveLetter = '\0';
  HidCommandSent = false;
  ExitCode = 1;

  FillOsVersion();

  DmOption = options.DmOption;
  SilentOption = options.SilentOption;
  DriveLetter = options.DriveLetter;

  if (!SilentOption) {
    TakeOverDevice();
    RunWizardSheet(*this);
    GiveBackDevice();
  } else {
    // Nobody watches a silent run, so the resident programs keep running and nothing is restarted.
    ExitCode = RunSilentUpdate(*this);
  }

  instanceMutex.Reset();
  // The run is over: failing the initialisation ends the process without a message loop.
  return FALSE;
}

int CFwUpBaseApp::ExitInstance() {
  CWinApp::ExitInstance();
  return ExitCode;
}

void CFwUpBaseApp::FillOsVersion() {
  OsVersion = {};
  OsVersion.dwOSVersionInfoSize = sizeof OsVersion;
  GetVersionExA(&OsVersion);
}

void CFwUpBaseApp::TakeOverDevice() {
  DictationMutex = CreateNewMutex("KESTREL-DICTATION");
  TranscriptionMutex = CreateNewMutex("TRANSCRIPTION_MUTEX");

  // SendMessageA, not PostMessageA: the program must have let go of the recorder before the sheet
  // looks for it.
  if (OsVersion.dwMajorVersion < kFirstMajorWithoutResidentMessages) {
    PlugMonitorWindow = FindWindowA(nullptr, "Plug Monitor");
    if (PlugMonitorWindow) SendMessageA(PlugMonitorWindow, kPlugMonitorReleaseDevice, 0, 0);
  } else {
    StopProcessByName("PlgMntr2.exe");
    PlugMonitorWindow = nullptr;
  }

  if (OsVersion.dwMajorVersion < kFirstMajorWithoutResidentMessages) {
    PlugMonitor4Window = FindWindowA(nullptr, "Plug Monitor4");
    if (PlugMonitor4Window) SendMessageA(PlugMonitor4Window, kPlugMonitor4ReleaseDevice, 0, 0);
  } else {
    StopProcessByName("PlgMntr4.exe");
    PlugMonitor4Window = nullptr;
  }

  PenwaveConfigWindow = FindWindowA("PenwaveConfig", nullptr);
  if (PenwaveConfigWindow) SendMessageA(PenwaveConfigWindow, kPenwaveConfigReleaseDevice, 0, 0);
}

void CFwUpBaseApp::GiveBackDevice() {
  // Only programs that were asked by message are started again; stopped processes stay stopped.
  if (PlugMonitorWindow) RestartFromCommonStartup("Plug Monitor 3", SW_HIDE);
  if (PlugMonitor4Window) RestartFromCommonStartup("Plug Monitor 4", SW_HIDE);
  if (PenwaveConfigWindow) RestartFromCommonStartup("Penwave Configuration Tool", SW_MINIMIZE);

  PlugMonitorWindow = nullptr;
  PlugMonitor4Window = nullptr;
  PenwaveConfigWindow = nullptr;
  DictationMutex.Reset();
  TranscriptionMutex.Reset();
}

int StopProcessByName(const std::string& exeName) {
  win::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return -1;

  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, exeName.c_str()) != 0) continue;
    win::ScopedHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
    if (!process) return -1;
    return TerminateProcess(process.get(), 0) ? 0 : -1;
  }
  return -1;
}
