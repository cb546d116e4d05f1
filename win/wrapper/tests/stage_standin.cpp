// Stands in for a stage updater in the wrapper's tests. It writes down how it was started (its
// program file and its whole command line), then does what its environment asks of it:
//   ZT_STANDIN_LOG     the file that gets one line "<program>|<command line>" per start (UTF-8)
//   ZT_STANDIN_HOLD    while this file exists the stage keeps running (a minute at most)
//   ZT_STANDIN_MARKER  the stages that leave the completion marker: "1", "2", "12" or nothing
//   ZT_STANDIN_EXIT    the exit code, decimal (0 when not set)

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

void AppendLine(const std::wstring& file, const std::string& line) {
  const HANDLE log = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(log);
}

bool Exists(const std::wstring& path) { return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  const std::wstring commandLine = GetCommandLineW();
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (const std::wstring log = Variable(L"ZT_STANDIN_LOG"); !log.empty()) {
    AppendLine(log, Utf8(program) + "|" + Utf8(commandLine));
  }

  const std::wstring hold = Variable(L"ZT_STANDIN_HOLD");
  for (int waited = 0; Exists(hold) && waited < 60000; waited += 20) Sleep(20);

  const wchar_t stage = commandLine.find(L"-nc1") != std::wstring::npos   ? L'1'
                        : commandLine.find(L"-nc2") != std::wstring::npos ? L'2'
                                                                            : L'?';
  if (Variable(L"ZT_STANDIN_MARKER").find(stage) != std::wstring::npos) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const HANDLE marker = CreateFileW((std::wstring(temp) + L"KestrelReflashCompleteCheck.txt").c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  }
  return static_cast<int>(std::wcstoul(Variable(L"ZT_STANDIN_EXIT").c_str(), nullptr, 10));
}
