#include "mac/platform/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "mac/platform/files.h"

extern char** environ;

namespace mac {

namespace {

bool Operator(char c) { return c == ';' || c == '&' || c == '|' || c == '<' || c == '>' || c == '(' || c == ')'; }
bool Blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// A path of the Mac's disk: absolute, and its first folder is there.
bool OnTheMac(std::string_view path, const FileManager& files) {
  if (path.size() < 2 || path[0] != '/' || path[1] == '/') return false;
  const size_t slash = path.find('/', 1);
  bool folder = false;
  return files.fileExistsAtPath(path.substr(0, slash), &folder) && folder;
}

}  // namespace

std::string QuoteForShell(std::string_view word) {
  std::string out = "'";
  for (const char c : word) {
    if (c == '\'') out += "'\\''";
    else out.push_back(c);
  }
  return out + "'";
}

std::string MapCommandToHost(std::string_view command, const FileManager& files) {
  std::string out;
  size_t i = 0;
  while (i < command.size()) {
    const char c = command[i];
    if (Blank(c) || Operator(c)) {
      out.push_back(c);
      ++i;
      continue;
    }
    if (c == '#' && (out.empty() || Blank(out.back()) || Operator(out.back()))) {
      out.append(command.substr(i));  // a comment, to the end
      break;
    }
    // One word: its text as written and its value once the shell has removed quotes and escapes.
    const size_t start = i;
    std::string value;
    bool expands = false;
    while (i < command.size() && !Blank(command[i]) && !Operator(command[i])) {
      const char d = command[i];
      if (d == '\\') {
        if (i + 1 < command.size() && command[i + 1] != '\n') value.push_back(command[i + 1]);
        i += 2;
      } else if (d == '\'') {
        const size_t end = command.find('\'', i + 1);
        if (end == std::string_view::npos) {
          expands = true;  // unbalanced: the shell will say so
          i = command.size();
          break;
        }
        value.append(command.substr(i + 1, end - i - 1));
        i = end + 1;
      } else if (d == '"') {
        size_t j = i + 1;
        for (; j < command.size() && command[j] != '"'; ++j) {
          if (command[j] == '$' || command[j] == '`') expands = true;
          if (command[j] == '\\' && j + 1 < command.size() && std::strchr("$`\"\\\n", command[j + 1])) ++j;
          value.push_back(command[j]);
        }
        if (j >= command.size()) expands = true;
        i = j + 1;
      } else {
        if (d == '$' || d == '`' || d == '*' || d == '?' || d == '[' || d == '~') expands = true;
        value.push_back(d);
        ++i;
      }
    }
    i = std::min(i, command.size());
    const std::string_view written = command.substr(start, i - start);
    const auto host = !expands && OnTheMac(value, files) ? files.hostPath(value) : std::nullopt;
    if (host) out += QuoteForShell(host->string());
    else out.append(written);
  }
  return out;
}

ChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, std::chrono::milliseconds limit) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& mine : environment) replaced = replaced || mine.substr(0, mine.find('=')) == name;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = arguments;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Its own process group, so that a child that has to be stopped goes with all it started.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  ChildRun run;
  if (error != 0) {
    run.started = false;
    run.status = 127 << 8;
    return run;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      run.status = status;
      return run;
    }
    if (done < 0 && errno != EINTR) {
      run.status = 127 << 8;
      return run;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      run.status = status;
      run.timedOut = true;
      return run;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

bool IsSimpleCommand(std::string_view command) {
  for (size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == '\\') {
      ++i;
    } else if (c == '\'') {
      const size_t end = command.find('\'', i + 1);
      if (end == std::string_view::npos) return false;
      i = end;
    } else if (Operator(c) || c == '\n' || c == '`' || c == '"' || c == '$' || c == '#' || c == '=') {
      return false;
    }
  }
  return true;
}

ChildRun RunShell(const std::string& hostCommand, const std::vector<std::string>& environment,
                  std::chrono::milliseconds limit) {
  // The Mac's shell runs a simple command in its own place, so that a program that crashes is
  // reported as the crash (a signal), not as the shell's exit code 128 + signal.
  const size_t first = hostCommand.find_first_not_of(" \t");
  const bool program = first != std::string::npos && (hostCommand.compare(first, 1, "/") == 0 || hostCommand.compare(first, 2, "'/") == 0);
  const std::string line = program && IsSimpleCommand(hostCommand) ? "exec " + hostCommand : hostCommand;
  return RunChild("/bin/sh", {"sh", "-c", line}, environment, limit);
}

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const bool crash = sig == SIGSEGV || sig == SIGABRT || sig == SIGBUS || sig == SIGILL || sig == SIGFPE;
    return "killed by signal " + std::to_string(sig) + (crash ? " (crash)" : "");
  }
  return "status " + std::to_string(status);
}

}  // namespace mac
