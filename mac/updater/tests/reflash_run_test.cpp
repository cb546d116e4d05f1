// Reflash as a real program: the bundles of the build installed in a simulated Mac made by mac-sim,
// started as processes with a script of the user's clicks, updating a simulated recorder whose
// state file every process shares.
#include <filesystem>
#include <string>
#include <vector>

#include "mac/sim/tests/mac_sim_run.h"

namespace {

using macsim_test::Has;
using macsim_test::Result;
namespace fs = std::filesystem;

class ReflashRun : public macsim_test::MacSimRun {
 protected:
  ReflashRun() : MacSimRun("zt-reflash-") {}

  // A recorder at 1.00 on both processors, a Mac with it, and both bundles installed.
  void Create(std::vector<std::string> options = {}) {
    ASSERT_EQ(Tool(RECORDER_SIM, {"create", recorder(), "--main-version", "1.00", "--sub-version", "1.00"}).code, 0);
    options.insert(options.begin(), {"create", root().string(), "--recorder", recorder()});
    const Result created = Tool(MAC_SIM, options);
    ASSERT_EQ(created.code, 0) << created.err;
    ASSERT_EQ(Tool(MAC_SIM, {"install", root().string(), REFLASH_MAIN, "/Applications/Main"}).code, 0);
    ASSERT_EQ(Tool(MAC_SIM, {"install", root().string(), REFLASH_SUB, "/Applications/Sub"}).code, 0);
  }
};

TEST_F(ReflashRun, MainProcessorUpdatedWithReadBack) {
  Create();
  const Result run = RunApp("/Applications/Main/Reflash.app", "click \"Start\"\nclick \"Finish\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Has(run.out, "started /Applications/Main/Reflash.app (Firmware Update 1.01, pid ");
  Has(run.out, "Preparing to update the firmware.");
  Has(run.out, "Verifying the firmware.");
  Has(run.out, "power assertion PreventUserIdleSystemSleep released");
  Has(run.out, "The firmware has been successfully updated to version 1.01.");
  const std::string r = Recorder();
  Has(r, "main processor firmware: 1.01");
  Has(r, "sub processor firmware: 1.00");
  Has(r, "read back: yes");
}

// The bundle's localizations are named as the Mac's language table knows them, so that a Mac set
// to Japanese gets the Japanese texts.
TEST_F(ReflashRun, AJapaneseMacShowsTheJapanesePages) {
  Create({"--languages", "ja,en"});
  const Result run = RunApp("/Applications/Main/Reflash.app", "click \"開始\"\nclick \"完了\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Has(run.out, "window \"Firmware Update\" is now \"ファームウェアアップデートプログラム\"");
  Has(run.out, "ファームウェアはバージョン1.01に正常にアップデートされました。");
}

TEST_F(ReflashRun, SubProcessorAsTheFirstStageLeavesItsMarker) {
  Create();
  const Result run = RunApp("/Applications/Sub/Reflash.app", "click \"Start\"\n", {"-nc1"});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Has(run.out, "[Firmware Update -nc1]");
  EXPECT_EQ(run.out.find("successfully updated"), std::string::npos) << "a first stage shows no last page";
  Has(Show(), "KestrelReflashCompleteCheck");
  Has(Recorder(), "sub processor firmware: 1.01");
}

// The recorder pulled out while its image is written: the run says so and ends; plugged in again, the
// processor reports 0.00 and the next run finishes the job.
TEST_F(ReflashRun, InterruptedUpdateIsFinishedByTheNextRun) {
  for (const char* command : {"E4-02", "E4-03"}) {
    SCOPED_TRACE(command);
    Create();
    ASSERT_EQ(Tool(RECORDER_SIM, {"fault", recorder(), "vanish", command, "1"}).code, 0);
    const Result failed = RunApp("/Applications/Main/Reflash.app", "click \"Start\"\nclick \"Yes\"\n");
    ASSERT_EQ(failed.code, 0) << failed.out << failed.err;
    Has(failed.out, "The update has not been done properly.");
    Has(Recorder(), "main processor firmware: 0.00 (image incomplete");

    ASSERT_EQ(Tool(RECORDER_SIM, {"plug", recorder()}).code, 0);
    const Result again = RunApp("/Applications/Main/Reflash.app", "click \"Start\"\nclick \"Finish\"\n");
    ASSERT_EQ(again.code, 0) << again.out << again.err;
    Has(again.out, "Current firmware version\t\t0.00");
    Has(again.out, "The firmware has been successfully updated to version 1.01.");
    const std::string r = Recorder();
    Has(r, "main processor firmware: 1.01");
    Has(r, "read back: yes");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
}

TEST_F(ReflashRun, DriverRefusedEndsWith13012) {
  Create({"--no-kext", "--password", "refuse"});
  const Result run = RunApp("/Applications/Main/Reflash.app", "click \"Yes\"\nclick \"Yes\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Has(run.out, "Install the driver to update the firmware.");
  Has(run.out, "The firmware update driver has not been installed correctly.");
  EXPECT_EQ(Show().find("KestrelReflashRebootCheck"), std::string::npos);
}

TEST_F(ReflashRun, DriverInstalledThenRestartAndTheRelaunchedCopyUpdatesAndDeletesItself) {
  Create({"--no-kext", "--password", "grant"});
  const Result first = RunApp("/Applications/Main/Reflash.app", "click \"Yes\"\nclick \"Yes\"\n");
  ASSERT_EQ(first.code, 0) << first.out << first.err;
  Has(first.out, "privileged tool ended: exit 0");
  Has(first.out, "The system restart is required to start the update.");
  const std::string copy = "/Users/user/Library/Application Support/KESTREL/SCSIReflash/Reflash.app";
  std::string shown = Show();
  Has(shown, "login items:\n " + copy);
  Has(shown, "restart requested: yes");
  Has(shown, "KestrelReflashRebootCheck");

  // Before the restart every start ends at once.
  const Result again = RunApp("/Applications/Main/Reflash.app", "click \"Yes\"\n");
  ASSERT_EQ(again.code, 0) << again.out << again.err;
  Has(again.out, "The system restart is required to update the firmware.");

  const Result restart = Restart("click \"Start\"\nclick \"Finish\"\n");
  ASSERT_EQ(restart.code, 0) << restart.out << restart.err;
  Has(restart.out, "started " + copy);
  Has(restart.out, "login item removed: " + copy);
  Has(restart.out, "The firmware has been successfully updated to version 1.01.");
  shown = Show();
  Has(shown, "login items: none");
  EXPECT_FALSE(fs::exists(root() / copy.substr(1))) << "the copy deleted itself";
  EXPECT_TRUE(fs::exists(root() / "Applications/Main/Reflash.app")) << "the original stays";
  Has(Recorder(), "main processor firmware: 1.01");
}

}  // namespace
