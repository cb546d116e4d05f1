#pragma once
// The application object of the two-stage wrapper, a Unicode program. Its InitInstance is the whole
// run; it always reports failure, so that no message loop follows.

#include <windows.h>

#include "win/framework/app.h"
#include "win/framework/handles.h"

class CWFwUpBaseApp : public win::CWinApp {
 public:
  BOOL InitInstance() override;

  const OSVERSIONINFOW& GetOsVersion() const { return OsVersion; }

 private:
  OSVERSIONINFOW OsVersion{};
  win::ScopedHandle DictationMutex;
  win::ScopedHandle TranscriptionMutex;
};
