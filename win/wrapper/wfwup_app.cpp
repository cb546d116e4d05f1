#include "win/wrapper/wfwup_app.h"

#include <commctrl.h>

#include <memory>

#include "win/wrapper/wfwup_sheet.h"

namespace {

// The size the wrapper announces to GetVersionExW: the plain record, not the extended one.
static_assert(sizeof(OSVERSIONINFOW) == 276);

// A name somebody else already holds stays theirs: the handle is closed at once and none is kept.
win::ScopedHandle CreateNewMutex(const wchar_t* name) {
  win::ScopedHandle mutex(CreateMutexW(nullptr, FALSE, name));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) mutex.Reset();
  return mutex;
}

}  // namespace

BOOL CWFwUpBaseApp::InitInstance() {
  INITCOMMONCONTROLSEX controls{sizeof controls, 0x000000FF};
  InitCommonControlsEx(&controls);

  // Two wrappers would write the same files into one temporary folder and start stages against one
  // recorder; the second leaves without a word. The stages' own name is another, so it does not keep
  // them from starting.
  win::ScopedHandle instanceMutex(CreateMutexW(nullptr, FALSE, L"KESTREL-AUDIO-WFWUPBASE"));
  if (!instanceMutex || GetLastError() == ERROR_ALREADY_EXISTS) return FALSE;

  OsVersion = {};
  OsVersion.dwOSVersionInfoSize = sizeof OsVersion;
  GetVersionExW(&OsVersion);

  // Tells the maker's dictation programs that the recorder is in use, for the whole run.
  DictationMutex = CreateNewMutex(L"KESTREL-DICTATION");
  TranscriptionMutex = CreateNewMutex(L"TRANSCRIPTION_MUTEX");

  auto sheet = std::make_unique<CWFwUpBaseSheet>(*this, L"Wizard", nullptr, 0);
  sheet->SetWizardMode();
  // A failed preparation has told the user why; there is no page to show.
  if (!sheet->HasInitFailed()) sheet->DoModal();

  DictationMutex.Reset();
  TranscriptionMutex.Reset();
  instanceMutex.Reset();
  sheet.reset();
  return FALSE;
}
