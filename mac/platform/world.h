#pragma once
// What a simulated Mac on disk holds that no single process owns: the programs running besides the
// one being looked at, the user's login items, the answers the user will give to password dialogs,
// the recorder's state file, a restart that was asked for, and the time the Mac has reached. It lives
// in one file beside the Mac's folders (WorldFilePath), read and written under the file's lock, so
// that every process started inside that Mac sees the same world.
//
// Form: text, one entry a line, words separated by blanks, texts in double quotes (with \" \\ \n and
// \t inside); "#" outside quotes starts a comment. The first line is "mac-sim world 1".
//
//   user "<name>" <uid>              the user logged in at the screen
//   users <n>                        users logged in (each runs a Finder)
//   clock <ms>                       the Mac's time, as far as any process has taken it
//   next-pid <pid>                   the number the next simulated process gets
//   recorder "<state file>"          the simulated recorder (a path of this machine)
//   child-limit <seconds>            how long a program may wait for a child process for real
//   process <pid> <uid> "<name>" "<bundle path>" [host]
//                                    a running application; "host" marks a real process of this
//                                    machine (its pid), which is gone when that process is
//   login-item "<path>" [hidden]
//   password grant|refuse|cancel     the user's next answer to a password dialog, in order
//   restart-requested                the restart Apple event was sent and not carried out yet

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mac {

struct WorldProcess {
  int32_t pid = 0;
  uint32_t uid = 0;
  std::string name;
  std::string bundlePath;
  bool host = false;  // a real process of this machine, whose pid is `pid`
  friend bool operator==(const WorldProcess&, const WorldProcess&) = default;
};

struct WorldLoginItem {
  std::string path;
  bool hidden = false;
  friend bool operator==(const WorldLoginItem&, const WorldLoginItem&) = default;
};

enum class PasswordAnswer { Grant, Refuse, Cancel };

struct WorldState {
  std::string userName = "user";
  uint32_t uid = 501;
  uint32_t users = 1;
  uint64_t clockMs = 0;
  int32_t nextPid = 300;
  std::string recorder;
  uint32_t childLimitSeconds = 30;
  std::vector<WorldProcess> processes;
  std::vector<WorldLoginItem> loginItems;
  std::vector<PasswordAnswer> passwords;
  bool restartRequested = false;
  friend bool operator==(const WorldState&, const WorldState&) = default;
};

std::string SerializeWorld(const WorldState& world);
// Nothing, with `error` ("line N: ..."), for anything that is not a whole world file.
std::optional<WorldState> ParseWorld(std::string_view text, std::string* error = nullptr);

// The world file of the simulated Mac whose "/" is `root`: hidden beside the Mac's own folders.
std::filesystem::path WorldFilePath(const std::filesystem::path& root);

// The world file of one simulated Mac; every call is one locked read, or read-change-write.
class World {
 public:
  explicit World(std::filesystem::path file) : file_(std::move(file)) {}

  const std::filesystem::path& file() const { return file_; }
  bool create(const WorldState& state, std::string& error) const;
  std::optional<WorldState> read(std::string& error) const;
  // `change` runs under the lock; what it leaves is written back when it answers true.
  bool update(const std::function<bool(WorldState&)>& change, std::string& error) const;

  // Real processes that ended without saying so (a crash) are dropped on every read.
  static void dropEndedProcesses(WorldState& state);

 private:
  std::filesystem::path file_;
};

}  // namespace mac
