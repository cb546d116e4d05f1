#pragma once
// The shell of the simulated Mac: a command as a Mac program writes it ("/Applications/My\ Tools/
// Twinflash.app/Contents/Resources/...") runs with /bin/sh of this machine, with every path that
// points into the Mac's "/" turned into the folder of this machine that stands for it. The program it
// names starts as a real child process, inside the same simulated Mac (it inherits the environment
// that names the Mac), and the call returns when the shell has ended.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mac {

class FileManager;

// The environment variable that names the Mac's "/" (a folder of this machine) to every program
// started inside it, and the one that names the file its transcript lines are added to.
inline constexpr const char* kRootVariable = "MAC_SIM_ROOT";
inline constexpr const char* kTranscriptVariable = "MAC_SIM_TRANSCRIPT";
inline constexpr const char* kScriptVariable = "MAC_SIM_SCRIPT";

// The command with each word that is an absolute path whose first folder exists on the Mac's disk
// ("/Applications/...", "/tmp/...", but not "/bin/echo") replaced by the quoted path of this machine
// (found without regard to case, as the Mac's disk finds it). Quoting, escapes and the shell's
// operators are kept; a word with an expansion ($, `) is left as written.
std::string MapCommandToHost(std::string_view command, const FileManager& files);

// The shell's quoting of one word, for this machine's /bin/sh.
std::string QuoteForShell(std::string_view word);

struct ChildRun {
  int status = 0;          // as waitpid reports it: what system() answers
  bool timedOut = false;   // stopped (with everything it started) after the limit
  bool started = true;
};

// Runs `program` with `arguments` (argv[0] first) and waits for it, up to `limit` of real time;
// then it and every process it started are killed. `environment` entries ("NAME=value") are added
// to this process's own.
ChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, std::chrono::milliseconds limit);

// A command of one program and its arguments: no operators, expansions, assignments or comments.
bool IsSimpleCommand(std::string_view command);

// system(3) on this machine: /bin/sh -c `hostCommand`, as RunChild. A simple command that names its
// program by path replaces the shell, as the Mac's shell does, so its status is the program's own
// (a crash is a signal).
ChildRun RunShell(const std::string& hostCommand, const std::vector<std::string>& environment,
                  std::chrono::milliseconds limit);

// A description of a wait status: "exit 3", "killed by signal 11 (crash)".
std::string DescribeStatus(int status);

}  // namespace mac
