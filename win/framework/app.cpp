#include "win/framework/app.h"

#include <cstdlib>

namespace win {

namespace {
CWinApp* g_app = nullptr;
}

CWinApp* CurrentApp() { return g_app; }

int CWinApp::Run(HINSTANCE instance) {
  instance_ = instance;
  g_app = this;
  // A program with a wide entry point may find no narrow arguments at all.
  if (arguments_.empty() && __argv) {
    for (int i = 0; i < __argc; ++i) arguments_.emplace_back(__argv[i]);
  }
  if (InitInstance()) {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  const int code = ExitInstance();
  g_app = nullptr;
  return code;
}

}  // namespace win
