// Twinflash as a real program: the bundle of the build installed in a simulated Mac made by mac-sim,
// started with a script of the user's clicks; its two stages are the real Reflash programs of its
// resources, started through the shell as child processes, updating one simulated recorder.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mac/sim/tests/mac_sim_run.h"

namespace {

using macsim_test::Has;
using macsim_test::Result;
using macsim_test::Slurp;
namespace fs = std::filesystem;

// What the user does in a whole run: Next on both pages; the sub processor's Start in stage 1; Start
// and Finish in stage 2.
constexpr const char* kWholeRun =
    "click \"Next\"\nclick \"Next\"\n"
    "for \"-nc1\"\nclick \"Start\"\n"
    "for \"-nc2\"\nclick \"Start\"\nclick \"Finish\"\n";

constexpr const char* kInstalled = "/Applications/ZT-5100 Update";
constexpr const char* kCopy = "/Users/user/Library/Application Support/KESTREL/Twinflash/Twinflash.app";

class TwinflashRun : public macsim_test::MacSimRun {
 protected:
  TwinflashRun() : MacSimRun("zt-twinflash-") {}

  std::string app(const std::string& folder = kInstalled) const { return folder + "/Twinflash.app"; }
  // A file of the bundle as installed on the Mac.
  fs::path installed(const std::string& inBundle, const std::string& folder = kInstalled) const {
    return root() / (app(folder).substr(1) + "/Contents/Resources/" + inBundle);
  }

  // A recorder at 1.00 on both processors that is back at once after its restart (the state file
  // keeps the time of this machine, the simulated Mac its own), a Mac with it, and Twinflash
  // installed in a folder whose name holds a blank.
  void Create(std::vector<std::string> options = {}, const std::string& folder = kInstalled) {
    ASSERT_EQ(Tool(RECORDER_SIM, {"create", recorder(), "--main-version", "1.00", "--sub-version", "1.00", "--delay-ms", "1"}).code, 0);
    options.insert(options.begin(), {"create", root().string(), "--recorder", recorder()});
    const Result created = Tool(MAC_SIM, options);
    ASSERT_EQ(created.code, 0) << created.err;
    const Result install = Tool(MAC_SIM, {"install", root().string(), TWINFLASH_APP, folder});
    ASSERT_EQ(install.code, 0) << install.err;
  }

  Result Run(const std::string& script, const std::string& application = {}) {
    return RunApp(application.empty() ? app() : application, script);
  }
  void Fault(const std::string& fault) { ASSERT_EQ(Tool(RECORDER_SIM, {"fault", recorder(), fault}).code, 0); }

  // Replaces `from` by `to` in a file of the installed bundle.
  void Edit(const std::string& inBundle, const std::string& from, const std::string& to) {
    const fs::path path = installed(inBundle);
    std::string text = Slurp(path);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " in " << path;
    text.replace(at, from.size(), to);
    std::ofstream(path, std::ios::binary) << text;
  }
};
void HasNot(const std::string& text, const std::string& fragment) {
  EXPECT_EQ(text.find(fragment), std::string::npos) << "unexpected: " << fragment << "\nin:\n" << text;
}

// The fragments appear in this order.
void InOrder(const std::string& text, const std::vector<std::string>& fragments) {
  size_t at = 0;
  for (const std::string& f : fragments) {
    const size_t found = text.find(f, at);
    ASSERT_NE(found, std::string::npos) << "missing after position " << at << ": " << f << "\nin:\n" << text;
    at = found + f.size();
  }
}

TEST_F(TwinflashRun, BothProcessorsUpdatedInOneRunWithTheStagesBetweenTheWrappersPages) {
  Create({"--running", "Plug Monitor"});
  fs::create_directories(root() / "Library/Application Support/Kestrel/VoxPlayer/Plug Monitor/Plug Monitor.app");
  const auto start = std::chrono::steady_clock::now();
  const Result run = Run(kWholeRun);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  InOrder(run.out, {
      "[TWINFLASH] 0.000 started /Applications/ZT-5100 Update/Twinflash.app (TWINFLASH 1.01, pid ",
      "process \"Plug Monitor\" ended",
      "[TWINFLASH] 0.000 window \"Firmware Update Program\" shown",
      "Updates ZT-5100 Firmware. Please follow installation directions given in the setup wizard.",
      "[TWINFLASH] 0.000 shell: /Applications/ZT-5100\\ Update/Twinflash.app/Contents/Resources/MODULES/Reflash1.app/Contents/MacOS/Reflash -nc1",
      "[Firmware Update -nc1]",
      "Current firmware version\t\t1.00",
      "[Firmware Update -nc1] 5.000 application terminated",
      "[TWINFLASH] 5.000 shell ended: exit 0",
      "[TWINFLASH] 5.000 window \"Firmware Update Program\" shown",
      "Overwriting successful.",
      "(close button disabled)",
      "shell: /Applications/ZT-5100\\ Update/Twinflash.app/Contents/Resources/MODULES/Reflash2.app/Contents/MacOS/Reflash -nc2",
      "[Firmware Update -nc2]",
      "The firmware has been successfully updated to version 1.01.",
      "[Firmware Update -nc2]",
      "application terminated",
      "[TWINFLASH]",
      "shell ended: exit 0",
      "application \"Plug Monitor\" started",
      "[TWINFLASH]",
      "application terminated",
  });
  const std::string r = Recorder();
  Has(r, "main processor firmware: 1.01");
  Has(r, "sub processor firmware: 1.01");
  const std::string shown = Show();
  Has(shown, "/tmp: empty");
  Has(shown, "Plug Monitor");
  std::cout << "[ whole run ] both stages in " << took.count() << " ms of real time\n";
}

TEST_F(TwinflashRun, StageOneWithoutItsMarkerEndsTheApplicationWithoutPage2) {
  Create();
  Fault("refuse-prepare");
  const Result run = Run("click \"Next\"\nfor \"-nc1\"\nclick \"Start\"\nclick \"Yes\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Has(run.out, "The update has not been done properly.");
  HasNot(run.out, "Overwriting successful.");
  HasNot(run.out, "-nc2");
  Has(run.out, "[TWINFLASH] 1.000 application terminated");
  Has(Show(), "/tmp: empty");
  Has(Recorder(), "sub processor firmware: 1.00");
}

// A marker that an earlier run left behind does not pass for this run's stage 1.
TEST_F(TwinflashRun, AnOldMarkerIsRemovedBeforeStageOne) {
  Create();
  Fault("refuse-prepare");
  fs::create_directories(root() / "tmp/KestrelReflashCompleteCheck");
  const Result run = Run("click \"Next\"\nfor \"-nc1\"\nclick \"Start\"\nclick \"Yes\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  HasNot(run.out, "Overwriting successful.");
}

TEST_F(TwinflashRun, StartRefusedWhileAnotherCopyThePlayerOrTheAudioApplicationRuns) {
  const struct {
    const char* running;
    const char* message;
  } rows[] = {
      {"TWINFLASH", "The firmware update has already started."},
      {"VoxPlayer", "The VoxPlayer is running. Please close the VoxPlayer to start the firmware update."},
      {"VoxPlayer for Mac", "The VoxPlayer is running. Please close the VoxPlayer to start the firmware update."},
      {"Kestrel Tunebox", "The Kestrel Tunebox is running. Please close the Kestrel Tunebox to start the firmware update."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.running);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Create({"--running", row.running});
    const Result run = Run("click \"Yes\"\n");
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    Has(run.out, std::string("| ") + row.message);
    HasNot(run.out, "shell:");
    Has(run.out, "[TWINFLASH] 0.000 application terminated");
  }
}

TEST_F(TwinflashRun, ThePlayerOrTheAudioApplicationStartedOnAPageEndsTheApplication) {
  const struct {
    const char* launched;
    const char* beforeIt;  // the moves that lead to the page
    const char* message;
  } rows[] = {
      {"VoxPlayer", "", "The VoxPlayer is running."},
      {"Kestrel Tunebox", "", "The Kestrel Tunebox is running."},
      // Page 2 refuses the user's quit, but not the program's own end.
      {"VoxPlayer for Mac", "click \"Next\"\nexpect-text \"Connect Recorder to USB port and click [Next].\"\n",
       "The VoxPlayer is running."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.launched);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Create();
    const Result run = Run(std::string(row.beforeIt) + "launch \"" + row.launched + "\"\nclick \"Yes\"\nexpect-end\n" +
                           "for \"-nc1\"\nclick \"Start\"\n");
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    Has(run.out, row.message);
    Has(run.out, "[TWINFLASH]");
    HasNot(run.out, "-nc2");
    Has(run.out, "application terminated\n== ");
  }
}

TEST_F(TwinflashRun, AdmitLaunchLetsTheUpdateRunBesideThePlayer) {
  Create({"--running", "VoxPlayer", "--running", "Kestrel Tunebox"});
  // A bundle built to admit the player admits it in the wrapper and in both stage updaters.
  Edit("TWINFLASH.INI", "AdmitLaunch=NO", "AdmitLaunch=YES");
  Edit("MODULES/Reflash1.app/Contents/Resources/FwUpDate.INI", "AdmitLaunch=NO", "AdmitLaunch=YES");
  Edit("MODULES/Reflash2.app/Contents/Resources/FwUpDate.INI", "AdmitLaunch=NO", "AdmitLaunch=YES");
  const Result run = Run(std::string("launch \"VoxPlayer for Mac\"\nlaunch \"Kestrel Tunebox\"\n") + kWholeRun);
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  HasNot(run.out, "is running.");
  Has(run.out, "The firmware has been successfully updated to version 1.01.");
  Has(Recorder(), "main processor firmware: 1.01");
  Has(Recorder(), "sub processor firmware: 1.01");
}

TEST_F(TwinflashRun, Page2RefusesQuitAndTheCloseButtonUntilNext) {
  Create();
  const Result run = Run(
      "click \"Next\"\nexpect-text \"Connect Recorder to USB port and click [Next].\"\n"
      "menu \"Quit Firmware Update\"\nclose \"Firmware Update Program\"\nquit\n"
      "expect-window \"Firmware Update Program\"\nclick \"Next\"\n"
      "for \"-nc1\"\nclick \"Start\"\nfor \"-nc2\"\nclick \"Start\"\nclick \"Finish\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  InOrder(run.out, {"Overwriting successful.", "quit refused", "shell: ", "-nc2"});
  Has(Recorder(), "main processor firmware: 1.01");
}

TEST_F(TwinflashRun, CancelOnPage1AsksAndEndsOnYes) {
  Create();
  const Result run = Run("click \"Cancel\"\nclick \"No\"\nclick \"Cancel\"\nclick \"Yes\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  InOrder(run.out, {"The application will be finished.", "click [No]", "The application will be finished.", "click [Yes]",
                    "application terminated"});
  HasNot(run.out, "shell:");
}

TEST_F(TwinflashRun, IncompleteBundleShowsItsBuildError) {
  const std::string english = "The firmware update program cannot start: its files are incomplete. Please download it again.";
  const struct {
    const char* name;
    const char* remove;        // in the resources
    const char* languages;
    const char* message;
  } rows[] = {
      {"configuration", "TWINFLASH.INI", "en", english.c_str()},
      {"page 2 picture", "IMAGES/wizard2.jpg", "en", english.c_str()},
      {"stage 2 updater", "MODULES/Reflash2.app", "en", english.c_str()},
      {"driver of new systems", "KextV3/KestrelDSSDriver.kext", "en", english.c_str()},
      {"glossary, in Japanese", "MODULES/glossaries.txt", "ja,en",
       "ファームウェアアップデートプログラムを起動できません。ファイルが不完全です。もう一度ダウンロードしてください。"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Create({"--languages", row.languages});
    fs::remove_all(installed(row.remove));
    // Without the glossary the alert keeps the button of the interface file.
    const Result run = Run("click \"OK\"\n");
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    Has(run.out, std::string("| ") + row.message);
    HasNot(run.out, "shell:");
    Has(run.out, "[TWINFLASH] 0.000 application terminated");
  }
}

TEST_F(TwinflashRun, DriverRefusedEndsWith13012AndNoRestartMarker) {
  Create({"--no-kext", "--password", "refuse"});
  const Result run = Run("click \"Yes\"\nclick \"Yes\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  InOrder(run.out, {"Install the driver to update the firmware.", "The firmware update driver has not been installed correctly.",
                    "application terminated"});
  const std::string shown = Show();
  HasNot(shown, "KestrelReflashRebootCheck");
  Has(shown, "login items: none");
}

TEST_F(TwinflashRun, DriverCycleAcrossTheRestartToTheCopyThatUpdatesAndDeletesItself) {
  Create({"--no-kext", "--password", "grant"});
  const Result first = Run("click \"Yes\"\nclick \"Yes\"\n");
  ASSERT_EQ(first.code, 0) << first.out << first.err;
  InOrder(first.out, {"Install the driver to update the firmware.", "privileged tool ended: exit 0",
                      "The system restart is required to start the update.", "click [Yes]", "application terminated"});
  std::string shown = Show();
  Has(shown, std::string("login items:\n ") + kCopy);
  Has(shown, "restart requested: yes");
  Has(shown, "KestrelReflashRebootCheck");
  EXPECT_TRUE(fs::exists(root() / (std::string(kCopy).substr(1) + "/Contents/Resources/MODULES/Reflash1.app/Contents/MacOS/Reflash")));

  // Until the restart every start ends at once.
  const Result again = Run("click \"Yes\"\n");
  ASSERT_EQ(again.code, 0) << again.out << again.err;
  Has(again.out, "The system restart is required to update the firmware.");
  HasNot(again.out, "shell:");

  const Result restart = Restart(kWholeRun);
  ASSERT_EQ(restart.code, 0) << restart.out << restart.err;
  InOrder(restart.out, {
      std::string("started ") + kCopy,
      std::string("login item removed: ") + kCopy,
      "shell: /Users/user/Library/Application\\ Support/KESTREL/Twinflash/Twinflash.app/Contents/Resources/MODULES/Reflash1.app",
      "[Firmware Update -nc1]",
      "Overwriting successful.",
      "[Firmware Update -nc2]",
      "The firmware has been successfully updated to version 1.01.",
  });
  shown = Show();
  Has(shown, "login items: none");
  EXPECT_FALSE(fs::exists(root() / std::string(kCopy).substr(1))) << "the copy deleted itself";
  EXPECT_TRUE(fs::exists(root() / app().substr(1))) << "the original stays";
  Has(Recorder(), "main processor firmware: 1.01");
  Has(Recorder(), "sub processor firmware: 1.01");
}

// Installed in a folder whose name holds what the shell would read as quotes, expansions, command
// ends and redirections, both stages still start.
TEST_F(TwinflashRun, ShellCharactersInTheInstalledPath) {
  const std::string folder = "/Applications/Tom's $HOME; `date` & (x) \"y\" | <z> #1";
  Create({}, folder);
  const Result run = Run(kWholeRun, app(folder));
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Has(run.out, "shell: /Applications/Tom\\'s\\ \\$HOME\\;\\ \\`date\\`\\ \\&\\ \\(x\\)\\ \\\"y\\\"\\ \\|\\ \\<z\\>\\ \\#1/Twinflash.app");
  Has(run.out, "[Firmware Update -nc2]");
  Has(Recorder(), "main processor firmware: 1.01");
  Has(Recorder(), "sub processor firmware: 1.01");
}

}  // namespace
