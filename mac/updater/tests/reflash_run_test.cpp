// Reflash as a real program: the bundles of the build installed in a simulated Mac made by mac-sim,
// started as processes with a script of the user's clicks, updating a simulated recorder whose
// state file every process shares.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "mac/platform/shell.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ReflashRun : public testing::Test {
 protected:
  ReflashRun() : dir_(fs::temp_directory_path() / ("zt-reflash-" + std::to_string(getpid()) + "-" + Name())) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~ReflashRun() override { fs::remove_all(dir_); }

  static std::string Name() { return testing::UnitTest::GetInstance()->current_test_info()->name(); }
  fs::path root() const { return dir_ / "Mac HD"; }
  std::string recorder() const { return (dir_ / "zt.sim").string(); }

  Result Tool(const std::string& tool, const std::vector<std::string>& args) {
    std::string command = mac::QuoteForShell(tool);
    for (const std::string& a : args) command += " " + mac::QuoteForShell(a);
    command += " >" + mac::QuoteForShell((dir_ / "out").string()) + " 2>" + mac::QuoteForShell((dir_ / "err").string());
    const int status = std::system(command.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = std::regex_replace(Slurp(dir_ / "out"), std::regex(" +"), " ");
    r.err = Slurp(dir_ / "err");
    return r;
  }

  // A recorder at 1.00 on both processors, a Mac with it, and both bundles installed.
  void Create(std::vector<std::string> options = {}) {
    ASSERT_EQ(Tool(RECORDER_SIM, {"create", recorder(), "--main-version", "1.00", "--sub-version", "1.00"}).code, 0);
    options.insert(options.begin(), {"create", root().string(), "--recorder", recorder()});
    const Result created = Tool(MAC_SIM, options);
    ASSERT_EQ(created.code, 0) << created.err;
    ASSERT_EQ(Tool(MAC_SIM, {"install", root().string(), REFLASH_MAIN, "/Applications/Main"}).code, 0);
    ASSERT_EQ(Tool(MAC_SIM, {"install", root().string(), REFLASH_SUB, "/Applications/Sub"}).code, 0);
  }

  Result Run(const std::string& app, const std::string& script, std::vector<std::string> args = {}) {
    std::ofstream(dir_ / "script") << script;
    args.insert(args.begin(), {"run", root().string(), app});
    args.insert(args.end(), {"--script", (dir_ / "script").string()});
    return Tool(MAC_SIM, args);
  }
  Result Restart(const std::string& script) {
    std::ofstream(dir_ / "script") << script;
    return Tool(MAC_SIM, {"restart", root().string(), "--script", (dir_ / "script").string()});
  }
  std::string Show() { return Tool(MAC_SIM, {"show", root().string()}).out; }
  std::string Recorder() { return Tool(RECORDER_SIM, {"show", recorder()}).out; }

  fs::path dir_;
};

void Has(const std::string& text, const std::string& fragment) {
  EXPECT_NE(text.find(fragment), std::string::npos) << "missing: " << fragment << "\nin:\n" << text;
}

TEST_F(ReflashRun, MainProcessorUpdatedWithReadBack) {
  Create();
  const Result run = Run("/Applications/Main/Reflash.app", "click \"Start\"\nclick \"Finish\"\n");
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
  const Result run = Run("/Applications/Main/Reflash.app", "click \"開始\"\nclick \"完了\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Has(run.out, "window \"Firmware Update\" is now \"ファームウェアアップデートプログラム\"");
  Has(run.out, "ファームウェアはバージョン1.01に正常にアップデートされました。");
}

TEST_F(ReflashRun, SubProcessorAsTheFirstStageLeavesItsMarker) {
  Create();
  const Result run = Run("/Applications/Sub/Reflash.app", "click \"Start\"\n", {"-nc1"});
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
    const Result failed = Run("/Applications/Main/Reflash.app", "click \"Start\"\nclick \"Yes\"\n");
    ASSERT_EQ(failed.code, 0) << failed.out << failed.err;
    Has(failed.out, "The update has not been done properly.");
    Has(Recorder(), "main processor firmware: 0.00 (image incomplete");

    ASSERT_EQ(Tool(RECORDER_SIM, {"plug", recorder()}).code, 0);
    const Result again = Run("/Applications/Main/Reflash.app", "click \"Start\"\nclick \"Finish\"\n");
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
  const Result run = Run("/Applications/Main/Reflash.app", "click \"Yes\"\nclick \"Yes\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Has(run.out, "Install the driver to update the firmware.");
  Has(run.out, "The firmware update driver has not been installed correctly.");
  EXPECT_EQ(Show().find("KestrelReflashRebootCheck"), std::string::npos);
}

TEST_F(ReflashRun, DriverInstalledThenRestartAndTheRelaunchedCopyUpdatesAndDeletesItself) {
  Create({"--no-kext", "--password", "grant"});
  const Result first = Run("/Applications/Main/Reflash.app", "click \"Yes\"\nclick \"Yes\"\n");
  ASSERT_EQ(first.code, 0) << first.out << first.err;
  Has(first.out, "privileged tool ended: exit 0");
  Has(first.out, "The system restart is required to start the update.");
  const std::string copy = "/Users/user/Library/Application Support/KESTREL/SCSIReflash/Reflash.app";
  std::string shown = Show();
  Has(shown, "login items:\n " + copy);
  Has(shown, "restart requested: yes");
  Has(shown, "KestrelReflashRebootCheck");

  // Before the restart every start ends at once.
  const Result again = Run("/Applications/Main/Reflash.app", "click \"Yes\"\n");
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
