// Failures that happen before anything reaches the recorder still reach the user: each ends in a box
// of this program's own, with the text the user is meant to read.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "win/framework/dialog.h"
#include "win/updater/payload/resource_data.h"
#include "win/updater/update/update_progress.h"

namespace {

struct SeenBox {
  std::string title;
  std::string text;
};

// Runs `act`, which is expected to show one box of this program; reads the box and closes it.
SeenBox BoxShownBy(const std::function<void()>& act) {
  SeenBox seen;
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    for (int i = 0; i < 500 && !done; ++i) {
      if (const HWND box = win::FindOwnMessageBox()) {
        char text[512] = {};
        GetWindowTextA(box, text, sizeof text);
        seen.title = text;
        // The text of a message box is its static 0xFFFF.
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        seen.text = text;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(10);
    }
  });
  act();
  done = true;
  watcher.join();
  return seen;
}

TEST(FailureBoxes, ProgressDialogThatCannotBeShownSaysTheUpdateFailed) {
  // A module without the dialog's template: the dialog cannot be made.
  CUpdateProgress progress(nullptr, false, GetModuleHandleA("kernel32.dll"));
  progress.SetErrorTexts("The update has not been done properly.", "refused");
  BOOL result = TRUE;
  const SeenBox box = BoxShownBy([&] { result = progress.RunModal(); });
  EXPECT_FALSE(result);
  EXPECT_EQ(box.text, "The update has not been done properly.");
  EXPECT_EQ(box.title, win::AppName());
}

TEST(FailureBoxes, PayloadErrorCarriesTheProgramsName) {
  const SeenBox box = BoxShownBy([] { ShowPayloadError(0x0001000C); });
  EXPECT_EQ(box.text, "Apprication Error(0x0001000c)");
  EXPECT_EQ(box.title, win::AppName()) << "not the system's \"Error\"";
}

}  // namespace
