// Whole runs inside a simulated Mac made by mac-sim: the Probe bundle of the build started as a real
// process, starting its child bundle through the shell, with the world, the recorder, login items, a
// restart and the driver installation shared between the processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "mac/platform/shell.h"
#include "mac/platform/world.h"

namespace fs = std::filesystem;

namespace {

// A folder name a shell would read a good deal into.
const std::string kAwkwardFolder = "/Applications/My Tools (1) & 'x' \"y\" $HOME;`id` #2";
const std::string kProbe = kAwkwardFolder + "/Probe.app";

struct Result {
  int code = -1;
  std::string out;
  std::string err;
  std::chrono::milliseconds took{};
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Lines of `text` that contain `fragment`, in order.
std::vector<std::string> Lines(const std::string& text, const std::string& fragment) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.find(fragment) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

size_t Where(const std::string& text, const std::string& fragment) {
  const size_t at = text.find(fragment);
  EXPECT_NE(at, std::string::npos) << "missing: " << fragment << "\nin:\n" << text;
  return at;
}

class MacSim : public testing::Test {
 protected:
  MacSim() : dir_(fs::temp_directory_path() / ("zt-macsim-" + std::to_string(getpid()) + "-" + Name())) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~MacSim() override { fs::remove_all(dir_); }

  static std::string Name() { return testing::UnitTest::GetInstance()->current_test_info()->name(); }

  fs::path root() const { return dir_ / "Mac HD"; }

  Result MacSimTool(const std::vector<std::string>& args) {
    std::string command = mac::QuoteForShell(MAC_SIM);
    for (const std::string& a : args) command += " " + mac::QuoteForShell(a);
    command += " >" + mac::QuoteForShell((dir_ / "out").string()) + " 2>" + mac::QuoteForShell((dir_ / "err").string());
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    Result r;
    r.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(dir_ / "out");
    r.err = Slurp(dir_ / "err");
    return r;
  }

  // A Mac with the Probe installed in a folder of awkward name.
  void Create(std::vector<std::string> options = {}) {
    options.insert(options.begin(), {"create", root().string()});
    const Result created = MacSimTool(options);
    ASSERT_EQ(created.code, 0) << created.err;
    const Result installed = MacSimTool({"install", root().string(), PROBE_APP, kAwkwardFolder});
    ASSERT_EQ(installed.code, 0) << installed.err;
  }

  Result Run(std::vector<std::string> args, const std::string& script = {}) {
    args.insert(args.begin(), {"run", root().string(), kProbe});
    if (!script.empty()) {
      std::ofstream(dir_ / "script") << script;
      args.insert(args.end(), {"--script", (dir_ / "script").string()});
    }
    Result r = MacSimTool(args);
    // One blank for each run of them, so that the expectations need not count the columns.
    r.out = std::regex_replace(r.out, std::regex(" +"), " ");
    return r;
  }

  std::string Show() { return MacSimTool({"show", root().string()}).out; }

  fs::path dir_;
};

TEST_F(MacSim, ChildStartedThroughTheShellSharesTheWorldAndTheRecorder) {
  const std::string recorder = (dir_ / "zt.sim").string();
  ASSERT_EQ(std::system((mac::QuoteForShell(RECORDER_SIM) + " create " + mac::QuoteForShell(recorder)).c_str()), 0);
  Create({"--recorder", recorder, "--running", "VoxPlayer"});
  const Result run = Run({"list", "recorder", "child", "/MODULES/Child.app", "args:-nc1,list,recorder,window", "list"},
                         "for \"-nc1\"\nclick \"OK\"\n");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  const std::string& t = run.out;
  // The parent's lines, then the child's, each marked with its program, then the parent's again.
  const size_t shell = Where(t, "[Probe] 1.000 shell: " + std::string("/Applications/My\\ Tools\\ \\(1\\)\\ \\&\\ \\'x\\'\\ "
                                                                                  "\\\"y\\\"\\ \\$HOME\\;\\`id\\`\\ \\#2/Probe.app/Contents/"
                                                                                  "Resources/MODULES/Child.app/Contents/MacOS/Probe -nc1 "
                                                                                  "list recorder window"));
  const size_t childList = Where(t, "[Firmware Update -nc1] 1.000 running: Finder, Firmware Update, VoxPlayer, Probe");
  const size_t childRecorder = Where(t, "[Firmware Update -nc1] 2.000 recorder on the bus: yes");
  const size_t click = Where(t, "[Firmware Update -nc1] 2.000 click [OK] in \"Probe\"");
  const size_t ended = Where(t, "[Probe] 2.000 shell ended: exit 0");
  const size_t after = Where(t, "[Probe] 2.000 running: Finder, Probe, VoxPlayer\n");
  EXPECT_TRUE(shell < childList && childList < childRecorder && childRecorder < click && click < ended && ended < after) << t;
  EXPECT_EQ(Lines(t, "[Probe] 1.000 recorder on the bus: yes").size(), 1u) << t;
  EXPECT_EQ(Lines(t, "never written").size(), 0u) << "code after terminate ran:\n" << t;
  EXPECT_LT(run.took, std::chrono::seconds(5));
  std::cout << "parent and child run: " << run.took.count() << " ms\n";
  // Both have ended: the world lists only what was running before.
  const std::string shown = Show();
  EXPECT_NE(shown.find("running:\n    VoxPlayer (pid 300) /Applications/VoxPlayer.app\n  login items"), std::string::npos) << shown;
  EXPECT_NE(shown.find("time: 2.000 s"), std::string::npos) << "the Mac's time went on with the run\n" << shown;
}

TEST_F(MacSim, SystemAnswersTheChildsStatus) {
  Create();
  struct Case {
    const char* child;
    int status;
    const char* shell;
  };
  const Case cases[] = {
      {"args:-nc1", 0, "exit 0"},
      {"args:-nc1,exit,3", 3 << 8, "exit 3"},
      {"args:-nc1,crash", SIGSEGV, "killed by signal 11 (crash)"},
  };
  for (const Case& c : cases) {
    const Result run = Run({"child", "/MODULES/Child.app", c.child, "list"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_EQ(Lines(run.out, "shell ended: " + std::string(c.shell)).size(), 1u) << run.out;
    // A crash may leave a core behind, which the status also says (0x80).
    EXPECT_EQ(Lines(run.out, "child status: " + std::to_string(c.status)).size() +
                  Lines(run.out, "child status: " + std::to_string(c.status | 0x80)).size() * (c.status == SIGSEGV),
              1u)
        << run.out;
    // A child that crashed or left without a word is not running any more.
    EXPECT_EQ(Lines(run.out, "running: Finder, Probe").size(), 1u) << run.out;
    EXPECT_EQ(Show().find("Firmware Update"), std::string::npos) << c.child;
  }
}

TEST_F(MacSim, LoginItemThroughRestartToTheRelaunchedCopy) {
  Create();
  const Result first = Run({"copy-self", "marker", "/tmp/KestrelReflashRebootCheck", "restart"});
  ASSERT_EQ(first.code, 0) << first.out << first.err;
  const std::string copy = "/Users/user/Library/Application Support/KESTREL/SCSIReflash/Probe.app";
  EXPECT_EQ(Lines(first.out, "login item added: " + copy).size(), 1u) << first.out;
  std::string shown = Show();
  for (const std::string& expected : {"login items:\n    " + copy + "\n", std::string("restart requested: yes"),
                                      std::string("/tmp:\n    KestrelReflashRebootCheck\n")}) {
    EXPECT_NE(shown.find(expected), std::string::npos) << expected << "\n" << shown;
  }

  Result restart = MacSimTool({"restart", root().string()});
  restart.out = std::regex_replace(restart.out, std::regex(" +"), " ");
  ASSERT_EQ(restart.code, 0) << restart.out << restart.err;
  const std::string& t = restart.out;
  Where(t, "== restarted; login items: 1");
  Where(t, "[Probe] 0.000 started " + copy + " (Probe 1.0.0, pid ");
  Where(t, "login item removed: " + copy);
  Where(t, "was a login item: yes");
  Where(t, "own bundle deleted: yes");
  shown = Show();
  for (const char* expected : {"login items: none", "restart requested: no", "/tmp: empty"}) {
    EXPECT_NE(shown.find(expected), std::string::npos) << expected << "\n" << shown;
  }
  EXPECT_FALSE(fs::exists(root() / copy.substr(1)));
  EXPECT_TRUE(fs::exists(root() / kProbe.substr(1))) << "the original stays";
  EXPECT_LT(first.took + restart.took, std::chrono::seconds(5));
}

TEST_F(MacSim, DriverCopiedByTheToolIntoTheFolderOfTheSystem) {
  struct Case {
    const char* system;
    const char* password;
    const char* folder;
    bool installed;
  };
  const Case cases[] = {
      {"10.8.5", "grant", "/System/Library/Extensions", true},
      {"10.9", "grant", "/Library/Extensions", true},
      {"10.11.6", "cancel", "/Library/Extensions", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.system);
    fs::remove_all(root());
    Create({"--system-version", c.system, "--no-kext", "--password", c.password});
    const Result run = Run({"install-kext"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    Where(run.out, "driver needed: yes");
    Where(run.out, c.installed ? "install: 0" : "install: -60006");
    Where(run.out, c.installed ? "driver needed now: no" : "driver needed now: yes");
    if (c.installed) Where(run.out, "privileged tool ended: exit 0");
    const fs::path kext = root() / (std::string(c.folder) + "/KestrelDSSDriver.kext/Contents/Info.plist").substr(1);
    EXPECT_EQ(fs::exists(kext), c.installed);
    if (c.installed) {
      EXPECT_NE(Slurp(kext).find("<string>1.2.0</string>"), std::string::npos);
    }
    EXPECT_NE(Show().find("password answers queued: 0"), std::string::npos);
  }
}

TEST_F(MacSim, AStuckChildFailsTheRunInSecondsSayingWhatItWaitedFor) {
  Create({"--child-limit", "20"});
  struct Case {
    const char* script;
    const char* why;
  };
  const Case cases[] = {
      {"", "the user has nothing left to do, but the program has been waiting for an answer in the modal window \"Probe\""},
      {"for \"Firmware Update\"\nclick \"Cancel\"\n", "line 2: click \"Cancel\": not possible within 10 s; on screen:"},
  };
  for (const Case& c : cases) {
    const Result run = Run({"child", "/MODULES/Child.app", "args:-nc2,window", "list"}, c.script);
    EXPECT_EQ(run.code, 86) << run.out << run.err;
    EXPECT_LT(run.took, std::chrono::seconds(5));
    Where(run.out, "[Firmware Update -nc2]");
    Where(run.out, "!! " + std::string(c.why));
    Where(run.out, "child status: " + std::to_string(86 << 8));
    Where(run.err, "mac-sim: the run failed:");
  }
}

TEST_F(MacSim, TheDiskFindsTheChildInAnyCase) {
  Create();
  const Result run = Run({"child", "/modules/CHILD.app", "args:list"});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  Where(run.out, "[Firmware Update] 0.000 running: Finder, Firmware Update, Probe");
  Where(run.out, "child status: 0");
}

TEST_F(MacSim, WhatCannotRunIsSaid) {
  Create();
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* error;
  };
  const Case cases[] = {
      {{"run", root().string(), "/Applications/Nothing.app"}, 1, "/Applications/Nothing.app is no application bundle"},
      {{"show", (dir_ / "nowhere").string()}, 1, "no simulated Mac here"},
      {{"create", root().string()}, 1, "is a simulated Mac already"},
      {{"create", (dir_ / "other").string(), "--user-count", "0"}, 1, "bad value \"0\" for --user-count"},
      {{"create", (dir_ / "other").string(), "--system-version", "ten"}, 1, "bad value \"ten\" for --system-version"},
      {{"run", root().string(), kProbe, "--script", (dir_ / "missing").string()}, 1, "no script at"},
      {{"frobnicate", root().string()}, 2, "usage:"},
  };
  for (const Case& c : cases) {
    const Result r = MacSimTool(c.args);
    EXPECT_EQ(r.code, c.code) << c.args[0] << " " << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
  }
  std::ofstream(dir_ / "bad") << "click \"OK\"\nfrobnicate\n";
  const Result badScript = Run({"list"}, Slurp(dir_ / "bad"));
  EXPECT_EQ(badScript.code, 86);
  EXPECT_NE(badScript.err.find("line 2: \"frobnicate\" with these arguments is not a move"), std::string::npos) << badScript.err;

  // Started outside a simulated Mac, a program says so.
  const std::string direct = mac::QuoteForShell(std::string(PROBE_APP) + "/Contents/MacOS/Probe") + " 2>" +
                             mac::QuoteForShell((dir_ / "err").string());
  const int status = std::system(("env -u MAC_SIM_ROOT " + direct).c_str());
  EXPECT_EQ(WEXITSTATUS(status), 87);
  EXPECT_NE(Slurp(dir_ / "err").find("not started inside a simulated Mac"), std::string::npos);
  const int outside = std::system(("MAC_SIM_ROOT=" + mac::QuoteForShell(root().string()) + " " + direct).c_str());
  EXPECT_EQ(WEXITSTATUS(outside), 87);
  EXPECT_NE(Slurp(dir_ / "err").find("is not inside the simulated Mac"), std::string::npos);
}

TEST_F(MacSim, ShowTellsWhatTheMacWasMadeWith) {
  Create({"--system-version", "10.9.5", "--languages", "ja,en", "--user-count", "2", "--running", "VoxPlayer", "--running",
          "Plug Monitor", "--kext-version", "1.0.3"});
  const std::string shown = Show();
  for (const char* expected :
       {"system version: 10.9.5", "users logged in: 2", "languages: ja,en", "driver: /Library/Extensions/KestrelDSSDriver.kext 1.0.3",
        "    VoxPlayer (pid 300) /Applications/VoxPlayer.app\n    Plug Monitor (pid 301)", "recorder: none"}) {
    EXPECT_NE(shown.find(expected), std::string::npos) << expected << "\n" << shown;
  }
  // The programs see them: two users, the other programs, Japanese texts.
  const Result run = Run({"list", "text", "buildError"});
  Where(run.out, "running: Finder, Probe, Finder, VoxPlayer, Plug Monitor");
  Where(run.out, "buildError = \xE3\x83\x97\xE3\x83\xAD\xE3\x82\xB0\xE3\x83\xA9\xE3\x83\xA0");
}

}  // namespace
