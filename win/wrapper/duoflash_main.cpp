// Duoflash: the two-stage wrapper. It carries Monoflash twice, with the sub processor's bundle and
// with the main processor's, and runs one after the other from a three-page wizard.

#include <windows.h>
#include <ole2.h>

#include "win/wrapper/wfwup_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  // The pictures and the autoplay-cancel library both need COM on this thread.
  const HRESULT ole = OleInitialize(nullptr);
  {
    CWFwUpBaseApp app;
    app.Run(instance);
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  return 0;
}
