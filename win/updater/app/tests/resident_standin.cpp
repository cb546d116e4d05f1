// Stands in for one of the maker's resident programs. On start it writes "<own path>.started" holding
// the show command it was given (-1 when none), so a test can tell that, and how, it was started.
// With "--linger" it stays until it is stopped, and ends with 7 if nobody does within a minute.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  char self[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 3;

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;

  // Written aside and renamed, so that a reader never sees half a note.
  const std::string marker = std::string(self) + ".started";
  const std::string draft = marker + ".draft";
  if (FILE* f = std::fopen(draft.c_str(), "w")) {
    std::fprintf(f, "%d\n", show);
    std::fclose(f);
    MoveFileExA(draft.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING);
  }

  if (std::strstr(commandLine, "--linger")) {
    Sleep(60000);
    return 7;
  }
  return 0;
}
