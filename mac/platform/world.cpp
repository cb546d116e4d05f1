#include "mac/platform/world.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "mac/platform/words.h"
#include "sim/locked_file.h"

namespace mac {

namespace {

constexpr std::string_view kHead = "mac-sim world 1";

template <class T>
bool Number(const Word& word, T& value) {
  if (word.quoted) return false;
  const char* end = word.text.data() + word.text.size();
  const auto [ptr, ec] = std::from_chars(word.text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else out.push_back(c);
  }
  return out + "\"";
}

bool Entry(const std::vector<Word>& w, WorldState& s, std::string& error) {
  const std::string& key = w[0].text;
  auto text = [&](size_t i) { return i < w.size() && w[i].quoted; };
  const size_t n = w.size();
  if (w[0].quoted) return error = "a line starts with its name", false;
  if (key == "user" && n == 3 && text(1) && Number(w[2], s.uid)) {
    s.userName = w[1].text;
  } else if (key == "users" && n == 2 && Number(w[1], s.users) && s.users >= 1 && s.users <= 64) {
  } else if (key == "clock" && n == 2 && Number(w[1], s.clockMs)) {
  } else if (key == "next-pid" && n == 2 && Number(w[1], s.nextPid) && s.nextPid > 0) {
  } else if (key == "recorder" && n == 2 && text(1)) {
    s.recorder = w[1].text;
  } else if (key == "child-limit" && n == 2 && Number(w[1], s.childLimitSeconds) && s.childLimitSeconds > 0 &&
             s.childLimitSeconds <= 86400) {
  } else if (key == "process" && (n == 5 || (n == 6 && w[5].text == "host" && !w[5].quoted)) && text(3) && text(4)) {
    WorldProcess p;
    if (!Number(w[1], p.pid) || p.pid <= 0 || !Number(w[2], p.uid)) return error = "process <pid> <uid> \"<name>\" \"<path>\" [host]", false;
    p.name = w[3].text;
    p.bundlePath = w[4].text;
    p.host = n == 6;
    s.processes.push_back(std::move(p));
  } else if (key == "login-item" && text(1) && (n == 2 || (n == 3 && w[2].text == "hidden" && !w[2].quoted))) {
    s.loginItems.push_back({w[1].text, n == 3});
  } else if (key == "password" && n == 2 && !w[1].quoted &&
             (w[1].text == "grant" || w[1].text == "refuse" || w[1].text == "cancel")) {
    s.passwords.push_back(w[1].text == "grant" ? PasswordAnswer::Grant
                          : w[1].text == "refuse" ? PasswordAnswer::Refuse
                                                  : PasswordAnswer::Cancel);
  } else if (key == "restart-requested" && n == 1) {
    s.restartRequested = true;
  } else {
    return error = "\"" + key + "\" with these values is not an entry of the world", false;
  }
  return true;
}

bool Alive(int32_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

std::string SerializeWorld(const WorldState& s) {
  std::string out(kHead);
  out += "\nuser " + Quoted(s.userName) + " " + std::to_string(s.uid);
  out += "\nusers " + std::to_string(s.users);
  out += "\nclock " + std::to_string(s.clockMs);
  out += "\nnext-pid " + std::to_string(s.nextPid);
  if (!s.recorder.empty()) out += "\nrecorder " + Quoted(s.recorder);
  out += "\nchild-limit " + std::to_string(s.childLimitSeconds);
  for (const WorldProcess& p : s.processes) {
    out += "\nprocess " + std::to_string(p.pid) + " " + std::to_string(p.uid) + " " + Quoted(p.name) + " " +
           Quoted(p.bundlePath) + (p.host ? " host" : "");
  }
  for (const WorldLoginItem& item : s.loginItems) out += "\nlogin-item " + Quoted(item.path) + (item.hidden ? " hidden" : "");
  for (const PasswordAnswer a : s.passwords) {
    out += std::string("\npassword ") + (a == PasswordAnswer::Grant ? "grant" : a == PasswordAnswer::Refuse ? "refuse" : "cancel");
  }
  if (s.restartRequested) out += "\nrestart-requested";
  return out + "\n";
}

std::optional<WorldState> ParseWorld(std::string_view text, std::string* error) {
  WorldState state;
  int number = 0;
  bool head = false;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    const std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    ++number;
    std::vector<Word> words;
    std::string why;
    if (!head) {
      if (line != kHead && line != std::string(kHead) + "\r") {
        if (error) *error = "line 1: not a world file (\"" + std::string(kHead) + "\" expected)";
        return std::nullopt;
      }
      head = true;
      continue;
    }
    if (!SplitWords(line, words, why) || (!words.empty() && !Entry(words, state, why))) {
      if (error) *error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    }
  }
  if (!head) {
    if (error) *error = "an empty world file";
    return std::nullopt;
  }
  return state;
}

std::filesystem::path WorldFilePath(const std::filesystem::path& root) { return root / ".mac-sim-world"; }

void World::dropEndedProcesses(WorldState& state) {
  std::erase_if(state.processes, [](const WorldProcess& p) { return p.host && !Alive(p.pid); });
}

bool World::create(const WorldState& state, std::string& error) const {
  sim::LockedFile file;
  if (!file.Open(file_.string(), true, error)) return false;
  const std::string text = SerializeWorld(state);
  return file.WriteAll(std::vector<uint8_t>(text.begin(), text.end()), error);
}

std::optional<WorldState> World::read(std::string& error) const {
  std::optional<WorldState> state;
  update([&](WorldState& s) {
    state = s;
    return false;
  }, error);
  return state;
}

bool World::update(const std::function<bool(WorldState&)>& change, std::string& error) const {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file_, ec)) {
    error = file_.string() + ": no simulated Mac here (made by mac-sim create)";
    return false;
  }
  sim::LockedFile file;
  std::vector<uint8_t> bytes;
  if (!file.Open(file_.string(), false, error) || !file.ReadAll(bytes, error)) return false;
  std::string why;
  auto state = ParseWorld(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &why);
  if (!state) {
    error = file_.string() + ": " + why;
    return false;
  }
  const size_t before = state->processes.size();
  dropEndedProcesses(*state);
  const bool changed = change(*state);
  if (!changed && state->processes.size() == before) return true;
  const std::string text = SerializeWorld(*state);
  return file.WriteAll(std::vector<uint8_t>(text.begin(), text.end()), error);
}

}  // namespace mac
