#pragma once
// The application object of the single-target updater. Its InitInstance does the whole run and then
// reports failure, so that no message loop follows; ExitInstance gives the run's exit code.

#include <windows.h>

#include <string>

#include "win/framework/app.h"
#include "win/framework/handles.h"

class CFwUpBaseApp : public win::CWinApp {
 public:
  CFwUpBaseApp();

  BOOL InitInstance() override;
  int ExitInstance() override;

  bool IsChainedRun() const { return ChainedRun; }
  int GetChainedStage() const { return ChainedStage; }
  // Windows 2000 and later.
  bool IsOsSupported() const { return OsVersion.dwMajorVersion > 4; }
  const OSVERSIONINFOA& GetOsVersion() const { return OsVersion; }

  // Whether a recorder that still waits for the HID mode command is plugged in.
  bool IsKnownRecorderPresent() const;
  // Tells the first known recorder among the HID interfaces to present itself for the update; true
  // once a report went out. Not sent again until ClearHidCommandSent.
  bool SendHidModeCommand();
  void ClearHidCommandSent() { HidCommandSent = false; }

 protected:
  // GetVersionExA into OsVersion. Virtual so that the rules tied to older systems can be run on a
  // newer one.
  virtual void FillOsVersion();

  // Around the wizard only: tells the maker's dictation programs that the device is in use and makes
  // its resident programs let go of the recorder, then undoes both.
  void TakeOverDevice();
  void GiveBackDevice();

  OSVERSIONINFOA OsVersion{};
  win::ScopedHandle DictationMutex;
  win::ScopedHandle TranscriptionMutex;
  HWND PlugMonitorWindow = nullptr;
  HWND PenwaveConfigWindow = nullptr;
  bool HidCommandSent = false;
  bool DmOption = false;
  bool SilentOption = false;
  char DriveLetter = '\0';
  HWND PlugMonitor4Window = nullptr;
  int ExitCode = 0;
  bool ChainedRun = false;
  int ChainedStage = 0;
};

// Terminates (exit code 0) the first running process whose executable name equals `exeName` without
// regard to case. 0 when it was terminated; -1 when no process matches or it could not be stopped.
int StopProcessByName(const std::string& exeName);
