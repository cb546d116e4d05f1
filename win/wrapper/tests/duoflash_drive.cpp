// duoflash-drive <Duoflash.exe, a Windows path or one of the Unix side>: runs a whole update through the two-stage wrapper as a user would
// make it (Next on page 1, Start in stage 1, Next on page 2, Start and Finish in stage 2) and says
// what it sees on the way. The wrapper and its stages take the simulated recorder from this program's
// environment. Exit code 0 when the wrapper went through both stages and ended; 1 otherwise.

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "win/wrapper/tests/duoflash_driver.h"

namespace {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\n' || c == L'\r') c = L' ';
  }
  return duo::Utf8(text);
}

std::optional<duo::Sheet> ShownPage(const duo::Process& run, int page) {
  HWND sheet = nullptr;
  duo::Until([&] {
    sheet = duo::FindSheet(run.id(), true);
    return (sheet && duo::Sheet(sheet).Page() == page) || !run.Running();
  });
  if (sheet && duo::Sheet(sheet).Page() == page) return duo::Sheet(sheet);
  return std::nullopt;
}

bool RunStage(const duo::Process& run, int stage) {
  const duo::StageRun result = duo::DriveStage(run.id(), stage);
  for (const std::wstring& button : result.pressed) Say("   stage " + std::to_string(stage) + ": pressed " + OneLine(button));
  for (const std::wstring& box : result.boxes) Say("   stage " + std::to_string(stage) + " said: " + OneLine(box));
  if (!result.seen) {
    Say("   stage " + std::to_string(stage) + " did not start");
    return false;
  }
  if (!result.exitCode) {
    Say("   stage " + std::to_string(stage) + " did not end in time");
    return false;
  }
  Say("   stage " + std::to_string(stage) + " ended");
  return true;
}

bool GoThroughPage(const duo::Process& run, int page) {
  const std::optional<duo::Sheet> sheet = ShownPage(run, page);
  if (!sheet) {
    Say(run.Running() ? "page " + std::to_string(page + 1) + " did not come" : "the wrapper ended");
    return false;
  }
  Say("page " + std::to_string(page + 1) + ": " + OneLine(sheet->PageText(1002)) + " " + OneLine(sheet->PageText(1003)));
  Say("   pressing " + OneLine(sheet->ButtonState(duo::Sheet::kNext).text));
  return sheet->Press(duo::Sheet::kNext);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    Say("usage: duoflash-drive <Duoflash.exe>");
    return 2;
  }
  duo::Process run(duo::WindowsPath(duo::Utf8(argv[1])), L"", {});
  if (!run.started()) {
    Say(run.error());
    return 1;
  }
  const bool throughBoth =
      GoThroughPage(run, 0) && RunStage(run, 1) && GoThroughPage(run, 1) && RunStage(run, 2);
  const std::optional<DWORD> code = run.WaitExit();
  if (!code) {
    Say("the wrapper did not end");
    return 1;
  }
  Say("the wrapper ended with exit code " + std::to_string(*code));
  return throughBoth ? 0 : 1;
}
