// mac-sim: makes a simulated Mac on disk, shows it, runs programs in it and restarts it.
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mac/app/application_main.h"
#include "mac/platform/files.h"
#include "mac/platform/plist.h"
#include "mac/platform/shell.h"
#include "mac/platform/world.h"
#include "mac/shared/versions.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::cerr << "usage:\n"
               "  mac-sim create ROOT [--system-version 10.6.8] [--languages ja,en] [--user NAME] [--user-count N]\n"
               "                      [--running NAME]... [--kext-version V | --no-kext] [--recorder STATE_FILE]\n"
               "                      [--child-limit SECONDS] [--password grant|refuse|cancel]...\n"
               "  mac-sim show ROOT\n"
               "  mac-sim install ROOT BUNDLE [FOLDER]      copies a bundle of this machine into the Mac (/Applications)\n"
               "  mac-sim run ROOT APP.app [ARGUMENTS...] [--script MOVES]\n"
               "  mac-sim restart ROOT [--script MOVES]\n";
  return 2;
}

int Fail(const std::string& message) {
  std::cerr << "mac-sim: " << message << "\n";
  return 1;
}

template <class T>
bool ParseNumber(const std::string& text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool MakeFolders(const mac::FileManager& files, const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    bool folder = false;
    if (!(files.fileExistsAtPath(part, &folder) && folder) && !files.createDirectoryAtPath(part)) return false;
    if (slash == std::string::npos) return true;
  }
}

std::string PlistText(const mac::PlistValue& value) { return mac::XmlPropertyList(value); }

mac::PlistValue Text(std::string text) { return mac::PlistValue{std::move(text)}; }

int Create(const fs::path& root, const std::vector<std::string>& args) {
  std::string system = "10.6.8";
  std::vector<std::string> languages = {"en"};
  std::optional<std::string> kext = "1.2.0";
  mac::WorldState world;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--no-kext") {
      kext.reset();
      continue;
    }
    if (i + 1 >= args.size()) return Usage();
    const std::string& value = args[++i];
    bool ok = true;
    if (option == "--system-version") {
      system = value;
      ok = ParseSystemVersionText("Version " + value).major > 0;
    } else if (option == "--languages") {
      languages.clear();
      std::stringstream list(value);
      for (std::string l; std::getline(list, l, ',');) {
        if (!l.empty()) languages.push_back(l);
      }
      ok = !languages.empty();
    } else if (option == "--user") {
      world.userName = value;
      ok = !value.empty() && value.find('/') == std::string::npos && value != "." && value != "..";
    } else if (option == "--user-count") {
      ok = ParseNumber(value, world.users) && world.users >= 1 && world.users <= 64;
    } else if (option == "--running") {
      world.processes.push_back({world.nextPid++, world.uid, value, "/Applications/" + value + ".app", false});
      ok = !value.empty();
    } else if (option == "--kext-version") {
      kext = value;
    } else if (option == "--recorder") {
      std::error_code ec;
      world.recorder = fs::absolute(value, ec).string();
    } else if (option == "--child-limit") {
      ok = ParseNumber(value, world.childLimitSeconds) && world.childLimitSeconds > 0;
    } else if (option == "--password") {
      ok = value == "grant" || value == "refuse" || value == "cancel";
      world.passwords.push_back(value == "grant" ? mac::PasswordAnswer::Grant
                                : value == "refuse" ? mac::PasswordAnswer::Refuse
                                                    : mac::PasswordAnswer::Cancel);
    } else {
      return Fail("unknown option " + option);
    }
    if (!ok) return Fail("bad value \"" + value + "\" for " + option);
  }

  std::error_code ec;
  if (fs::exists(mac::WorldFilePath(root), ec)) return Fail(root.string() + " is a simulated Mac already");
  fs::create_directories(root, ec);
  if (ec) return Fail(root.string() + ": " + ec.message());
  const mac::FileManager files(fs::absolute(root));
  const std::string home = "/Users/" + world.userName;
  for (const std::string& folder : std::vector<std::string>{"/Applications", "/Library/Extensions", "/Library/Application Support",
                                   "/System/Library/Extensions", "/System/Library/CoreServices", "/tmp", "/Volumes",
                                   home + "/Library/Preferences", home + "/Library/Application Support"}) {
    if (!MakeFolders(files, folder)) return Fail("the folder " + folder + " cannot be made");
  }
  files.createFileAtPath("/System/Library/CoreServices/SystemVersion.plist",
                         PlistText(mac::PlistValue{mac::PlistDictionary{{"ProductName", Text("Mac OS X")},
                                                                        {"ProductVersion", Text(system)},
                                                                        {"ProductBuildVersion", Text("10K549")}}}));
  mac::PlistArray list;
  for (const std::string& l : languages) list.push_back(Text(l));
  files.createFileAtPath(home + "/Library/Preferences/.GlobalPreferences.plist",
                         PlistText(mac::PlistValue{mac::PlistDictionary{{"AppleLanguages", mac::PlistValue{list}}}}));
  if (kext) {
    const std::string folder = std::string(KextLocationFor(ParseSystemVersionText("Version " + system)).installedFolder) +
                               "/" + std::string(kKextName);
    MakeFolders(files, folder + "/Contents");
    files.createFileAtPath(folder + "/Contents/Info.plist",
                           PlistText(mac::PlistValue{mac::PlistDictionary{{"CFBundleIdentifier", Text("com.kestrel.driver.DSSBlockCommands")},
                                                                          {"CFBundleShortVersionString", Text(*kext)}}}));
  }
  std::string error;
  if (!mac::World(mac::WorldFilePath(root)).create(world, error)) return Fail(error);
  return 0;
}

std::optional<std::string> Read(const mac::FileManager& files, const std::string& plist, const std::string& key) {
  const auto bytes = files.contentsAtPath(plist);
  const auto value = bytes ? mac::PropertyListFromData(*bytes) : std::nullopt;
  const mac::PlistValue* entry = value ? value->objectForKey(key) : nullptr;
  if (!entry) return std::nullopt;
  if (entry->string()) return *entry->string();
  if (const auto* array = entry->array()) {
    std::string joined;
    for (const auto& v : *array) joined += (joined.empty() ? "" : ",") + (v.string() ? *v.string() : std::string("?"));
    return joined;
  }
  return std::nullopt;
}

int Show(const fs::path& root) {
  std::string error;
  const auto world = mac::World(mac::WorldFilePath(root)).read(error);
  if (!world) return Fail(error);
  const mac::FileManager files(fs::absolute(root));
  const std::string system = Read(files, "/System/Library/CoreServices/SystemVersion.plist", "ProductVersion").value_or("?");
  std::cout << "Simulated Mac at " << fs::absolute(root).string() << "\n";
  std::cout << "  system version: " << system << "\n";
  std::cout << "  user: " << world->userName << " (uid " << world->uid << "), users logged in: " << world->users << "\n";
  std::cout << "  languages: "
            << Read(files, "/Users/" + world->userName + "/Library/Preferences/.GlobalPreferences.plist", "AppleLanguages").value_or("?")
            << "\n";
  const std::string kext = std::string(KextLocationFor(ParseSystemVersionText("Version " + system)).installedFolder) + "/" + std::string(kKextName);
  const auto kextVersion = Read(files, kext + "/Contents/Info.plist", "CFBundleShortVersionString");
  std::cout << "  driver: " << (files.fileExistsAtPath(kext) ? kext + " " + kextVersion.value_or("(no version)") : "not installed") << "\n";
  std::cout << "  recorder: " << (world->recorder.empty() ? "none" : world->recorder) << "\n";
  std::cout << "  time: " << world->clockMs / 1000 << "." << std::to_string(world->clockMs % 1000 + 1000).substr(1) << " s\n";
  std::cout << "  running:" << (world->processes.empty() ? " nothing besides the system" : "") << "\n";
  for (const auto& p : world->processes) {
    std::cout << "    " << p.name << " (pid " << p.pid << (p.host ? ", a process of this machine" : "") << ") " << p.bundlePath << "\n";
  }
  std::cout << "  login items:" << (world->loginItems.empty() ? " none" : "") << "\n";
  for (const auto& item : world->loginItems) std::cout << "    " << item.path << (item.hidden ? " (hidden)" : "") << "\n";
  std::cout << "  password answers queued: " << world->passwords.size() << "\n";
  std::cout << "  restart requested: " << (world->restartRequested ? "yes" : "no") << "\n";
  const auto tmp = files.directoryContentsAtPath("/tmp").value_or(std::vector<std::string>{});
  std::cout << "  /tmp:" << (tmp.empty() ? " empty" : "") << "\n";
  for (const auto& entry : tmp) std::cout << "    " << entry << "\n";
  return 0;
}

int Install(const fs::path& root, const std::string& bundle, const std::string& folder) {
  const mac::FileManager files(fs::absolute(root));
  if (!fs::exists(mac::WorldFilePath(root))) return Fail(root.string() + ": no simulated Mac here (made by mac-sim create)");
  const std::string name = fs::path(bundle).filename().string();
  if (!MakeFolders(files, folder)) return Fail("the folder " + folder + " cannot be made");
  const auto target = files.hostPath(folder + "/" + name);
  std::error_code ec;
  if (!target || fs::exists(*target, ec)) return Fail(folder + "/" + name + " exists already");
  fs::copy(bundle, *target, fs::copy_options::recursive, ec);
  if (ec) return Fail(bundle + ": " + ec.message());
  std::cout << folder << "/" << name << "\n";
  return 0;
}

// Runs the application at `app` (a path of the Mac) and prints its transcript and those of the
// programs it starts. The program's exit code, or 128 and the signal.
int Run(const fs::path& root, std::string app, const std::vector<std::string>& arguments, const std::string& script) {
  std::error_code ec;
  const fs::path absoluteRoot = fs::weakly_canonical(fs::absolute(root), ec);
  std::string error;
  const auto world = mac::World(mac::WorldFilePath(absoluteRoot)).read(error);
  if (!world) return Fail(error);
  const mac::FileManager files(absoluteRoot);
  if (app.starts_with(absoluteRoot.string() + "/")) app.erase(0, absoluteRoot.string().size());
  while (app.size() > 1 && app.back() == '/') app.pop_back();
  const auto executable = Read(files, app + "/Contents/Info.plist", "CFBundleExecutable");
  if (!executable) return Fail(app + " is no application bundle of the Mac at " + absoluteRoot.string());
  const auto host = files.hostPath(app + "/Contents/MacOS/" + *executable);
  if (!host || !fs::exists(*host, ec)) return Fail(app + ": its executable " + *executable + " is missing");

  const fs::path transcript = fs::temp_directory_path() / ("mac-sim-transcript-" + std::to_string(getpid()));
  fs::remove(transcript, ec);
  std::vector<std::string> environment{std::string(mac::kRootVariable) + "=" + absoluteRoot.string(),
                                       std::string(mac::kTranscriptVariable) + "=" + transcript.string(), "MAC_SIM_DEPTH=0"};
  if (!script.empty()) environment.push_back(std::string(mac::kScriptVariable) + "=" + fs::absolute(script, ec).string());
  else environment.push_back(std::string(mac::kScriptVariable) + "=");
  std::vector<std::string> argv{host->string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const mac::ChildRun run = mac::RunChild(host->string(), argv, environment, std::chrono::seconds(world->childLimitSeconds));

  std::ifstream in(transcript);
  std::vector<std::string> failures;
  for (std::string line; std::getline(in, line);) {
    std::cout << line << "\n";
    if (line.find(std::string("  ") + mac::kFailureMark) != std::string::npos) failures.push_back(line);
  }
  in.close();
  fs::remove(transcript, ec);
  std::cout << "== " << app << ": " << mac::DescribeStatus(run.status)
            << (run.timedOut ? " (stopped: it had not ended after " + std::to_string(world->childLimitSeconds) + " s)" : "") << "\n";
  if (!run.started) return Fail(host->string() + " cannot be started");
  for (const std::string& line : failures) std::cerr << "mac-sim: the run failed: " << line << "\n";
  if (!failures.empty() && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) return mac::kExitSimulationFailed;
  if (WIFSIGNALED(run.status)) return 128 + WTERMSIG(run.status);
  return WEXITSTATUS(run.status);
}

// What a restart does: the system empties /tmp, nothing of before runs, then the user's login items
// start, one after the other.
int Restart(const fs::path& root, const std::string& script) {
  const mac::World world(mac::WorldFilePath(root));
  std::string error;
  std::vector<mac::WorldLoginItem> items;
  const bool ok = world.update([&](mac::WorldState& w) {
    std::erase_if(w.processes, [](const mac::WorldProcess& p) { return p.host; });
    w.restartRequested = false;
    w.clockMs = 0;
    items = w.loginItems;
    return true;
  }, error);
  if (!ok) return Fail(error);
  const mac::FileManager files(fs::absolute(root));
  for (const std::string& entry : files.directoryContentsAtPath("/tmp").value_or(std::vector<std::string>{})) {
    if (!files.removeFileAtPath("/tmp/" + entry)) return Fail("/tmp/" + entry + " cannot be removed");
  }
  std::cout << "== restarted; login items: " << items.size() << "\n";
  int result = 0;
  for (const auto& item : items) {
    const int code = Run(root, item.path, {}, script);
    if (code != 0 && result == 0) result = code;
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  const fs::path root = argv[2];
  std::vector<std::string> rest(argv + 3, argv + argc);
  if (command == "create") return Create(root, rest);
  if (command == "show" && rest.empty()) return Show(root);
  if (command == "install" && (rest.size() == 1 || rest.size() == 2)) {
    return Install(root, rest[0], rest.size() == 2 ? rest[1] : "/Applications");
  }
  std::string script;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != "--script") continue;
    if (i + 1 >= rest.size()) return Usage();
    script = rest[i + 1];
    rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i), rest.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    break;
  }
  if (!script.empty() && !fs::is_regular_file(script)) return Fail("no script at " + script);
  if (command == "run" && !rest.empty()) return Run(root, rest[0], {rest.begin() + 1, rest.end()}, script);
  if (command == "restart" && rest.empty()) return Restart(root, script);
  return Usage();
}
