// Monoflash: the single-target firmware updater. The application object decides between the wizard
// and the unattended run; this file supplies both and the program's entry point.

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "win/updater/app/fwup_app.h"
#include "win/updater/app/runs.h"
#include "win/updater/wizard/fwup_sheet.h"
#include "win/updater/wizard/fwup_silent.h"

void RunWizardSheet(CFwUpBaseApp& app) {
  CFwUpBaseSheet sheet(app, "Wizard", nullptr, 0);
  sheet.SetWizardMode();
  // A failed preparation has told the user why; there is nothing to show.
  if (!sheet.InitFailed()) sheet.DoModal();
}

int RunSilentUpdate(CFwUpBaseApp& app) { return RunSilentRetries(app); }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // The wizard's pictures and the autoplay-cancel library both need COM on this thread.
  const HRESULT ole = OleInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  int code = 1;
  {
    CFwUpBaseApp app;
    code = app.Run(instance);
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  return code;
}
