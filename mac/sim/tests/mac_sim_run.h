#pragma once
// Whole-program runs of the Mac programs: a simulated recorder and a simulated Mac made by the real
// tools in a folder of the test's own, programs started by `mac-sim run` with a script of the user's
// moves, and what the tools print. The test binary is given MAC_SIM and RECORDER_SIM by its build.

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

namespace macsim_test {

namespace fs = std::filesystem;

struct Result {
  int code = -1;
  std::string out;  // runs of blanks folded into one, so that padded columns compare simply
  std::string err;
};

inline std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void Has(const std::string& text, const std::string& fragment) {
  EXPECT_NE(text.find(fragment), std::string::npos) << "missing: " << fragment << "\nin:\n" << text;
}

class MacSimRun : public testing::Test {
 protected:
  explicit MacSimRun(const std::string& prefix)
      : dir_(fs::temp_directory_path() / (prefix + std::to_string(getpid()) + "-" + Name())) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~MacSimRun() override { fs::remove_all(dir_); }

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

  // `mac-sim run` of the application at `app` with `script`, the program's `args` before it.
  Result RunApp(const std::string& app, const std::string& script, std::vector<std::string> args = {}) {
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

}  // namespace macsim_test
