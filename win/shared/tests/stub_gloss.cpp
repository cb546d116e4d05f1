// A glossary library that leaves a trace of every call in the process environment, where the test
// can still read it after the library is gone. It is built several times, each build lacking one of
// the three functions, to see what a loader does with an incomplete library.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

void Trace(const std::string& entry) {
  char buffer[4096];
  const DWORD n = GetEnvironmentVariableA("ZT_STUB_GLOSS_TRACE", buffer, sizeof buffer);
  std::string trace = n < sizeof buffer ? std::string(buffer, n) : std::string("(overflow)");
  trace += entry + ";";
  SetEnvironmentVariableA("ZT_STUB_GLOSS_TRACE", trace.c_str());
}

}  // namespace

extern "C" {

#ifndef ZT_STUB_WITHOUT_INIT
__declspec(dllexport) int __cdecl KesGlossInit(const char* code) {
  Trace(std::string("init ") + (code ? code : "(null)"));
  return 1;
}
#endif

#ifndef ZT_STUB_WITHOUT_EXIT
__declspec(dllexport) int __cdecl KesGlossExit() {
  Trace("exit");
  return 1;
}
#endif

#ifndef ZT_STUB_WITHOUT_TEXT
// Records whether the buffer came zeroed, then answers every id but 0 with "text <id>"; for id 0 it
// writes nothing, as the real library does for a text that does not fit.
__declspec(dllexport) int __cdecl KesGetStringA(unsigned id, char* buffer, int size) {
  const bool zeroed = buffer && size > 0 && std::all_of(buffer, buffer + size, [](char c) { return c == '\0'; });
  Trace("get " + std::to_string(id) + " " + std::to_string(size) + (zeroed ? " zeroed" : " dirty"));
  if (id != 0 && buffer && size > 0) std::snprintf(buffer, static_cast<size_t>(size), "text %u", id);
  return 1;
}
#endif

}  // extern "C"
