#include "mac/app/application_main.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mac/platform/platform.h"
#include "mac/platform/script.h"
#include "mac/platform/shell.h"
#include "mac/platform/world.h"

namespace fs = std::filesystem;

namespace mac {

namespace {

constexpr const char* kDepthVariable = "MAC_SIM_DEPTH";

// Why a program cannot start inside a simulated Mac.
struct NoMac {
  std::string why;
};

std::string Text(const PlistValue* value) { return value && value->string() ? *value->string() : std::string(); }

std::optional<PlistValue> ReadPlist(const FileManager& files, const std::string& path) {
  const auto bytes = files.contentsAtPath(path);
  if (!bytes) return std::nullopt;
  return PropertyListFromData(*bytes);
}

// Everything the Platform is made from, found on the Mac's disk.
PlatformOptions Context(int argc, char** argv, WorldState& world, std::string& bundleVersion) {
  const char* rootText = std::getenv(kRootVariable);
  if (!rootText || !*rootText) throw NoMac{"not started inside a simulated Mac (MAC_SIM_ROOT is not set; start it with mac-sim run)"};
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(fs::absolute(rootText, ec), ec);
  if (ec || !fs::is_directory(root, ec)) throw NoMac{std::string("MAC_SIM_ROOT ") + rootText + " is no folder"};
  std::string why;
  const auto state = World(WorldFilePath(root)).read(why);
  if (!state) throw NoMac{why};
  world = *state;

  // The executable's path on the Mac: its path here less the root.
  fs::path self = argc > 0 && std::string(argv[0]).find('/') != std::string::npos ? fs::path(argv[0]) : fs::read_symlink("/proc/self/exe", ec);
  self = fs::weakly_canonical(fs::absolute(self, ec), ec);
  const std::string rootString = root.string();
  const std::string selfString = self.string();
  if (selfString.size() <= rootString.size() || selfString.compare(0, rootString.size(), rootString) != 0 ||
      selfString[rootString.size()] != '/') {
    throw NoMac{selfString + " is not inside the simulated Mac at " + rootString};
  }
  const std::string macPath = selfString.substr(rootString.size());
  const size_t macos = macPath.rfind("/Contents/MacOS/");
  if (macos == std::string::npos || macos < 5 || macPath.compare(macos - 4, 4, ".app") != 0) {
    throw NoMac{macPath + " is not the executable of an application bundle (<name>.app/Contents/MacOS/<executable>)"};
  }

  PlatformOptions o;
  o.root = root;
  o.world = WorldFilePath(root);
  o.bundlePath = macPath.substr(0, macos);
  o.executableName = macPath.substr(macos + 16);
  const FileManager files(root);
  const auto info = ReadPlist(files, o.bundlePath + "/Contents/Info.plist");
  if (!info || !info->dictionary()) throw NoMac{o.bundlePath + "/Contents/Info.plist is missing or no property list"};
  o.applicationName = Text(info->objectForKey("CFBundleName"));
  if (o.applicationName.empty()) {
    const std::string folder = o.bundlePath.substr(o.bundlePath.rfind('/') + 1);
    o.applicationName = folder.substr(0, folder.size() - 4);
  }
  bundleVersion = Text(info->objectForKey("CFBundleShortVersionString"));
  std::string region = Text(info->objectForKey("CFBundleDevelopmentRegion"));
  if (region.empty()) region = "English";

  const auto version = ReadPlist(files, "/System/Library/CoreServices/SystemVersion.plist");
  o.systemVersion = version ? Text(version->objectForKey("ProductVersion")) : std::string();
  if (o.systemVersion.empty()) throw NoMac{"/System/Library/CoreServices/SystemVersion.plist gives no ProductVersion"};

  o.userName = world.userName;
  o.uid = world.uid;
  o.pid = getpid();
  o.startMs = world.clockMs;
  o.languages = {"en"};
  if (const auto prefs = ReadPlist(files, "/Users/" + world.userName + "/Library/Preferences/.GlobalPreferences.plist")) {
    if (const PlistValue* languages = prefs->objectForKey("AppleLanguages"); languages && languages->array()) {
      std::vector<std::string> list;
      for (const PlistValue& l : *languages->array()) {
        if (l.string()) list.push_back(*l.string());
      }
      if (!list.empty()) o.languages = list;
    }
  }
  std::vector<std::string> lprojs;
  for (const std::string& entry : files.directoryContentsAtPath(o.bundlePath + "/Contents/Resources").value_or(std::vector<std::string>{})) {
    if (entry.size() > 6 && entry.ends_with(".lproj")) lprojs.push_back(entry.substr(0, entry.size() - 6));
  }
  o.localizations = Bundle::PreferredLocalizationsFor(lprojs, o.languages, region);

  // The shell handed this machine's paths; the program sees the Mac's.
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument.size() > rootString.size() && argument.compare(0, rootString.size(), rootString) == 0 &&
        argument[rootString.size()] == '/') {
      argument.erase(0, rootString.size());
    }
    o.arguments.push_back(std::move(argument));
  }
  return o;
}

// "Firmware Update -nc1": the program and the switches it was started with.
std::string Label(const PlatformOptions& o) {
  std::string label = o.applicationName;
  for (const std::string& a : o.arguments) {
    if (a.starts_with("-")) label += " " + a;
  }
  return label;
}

// The program's entry in the world while it runs; gone however the process ends (a crash: see
// World::dropEndedProcesses).
class Registration {
 public:
  Registration(const World& world, const PlatformOptions& o) : world_(world), pid_(o.pid) {
    std::string error;
    world_.update([&](WorldState& w) {
      // A number this machine gave out again: whatever was listed under it has ended.
      std::erase_if(w.processes, [&](const WorldProcess& p) { return p.host && p.pid == o.pid; });
      w.processes.push_back({o.pid, o.uid, o.applicationName, o.bundlePath, true});
      return true;
    }, error);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration() { end(0); }

  // The world takes the program's time, and forgets the program.
  void end(uint64_t clockMs) {
    if (ended_) return;
    ended_ = true;
    std::string error;
    world_.update([&](WorldState& w) {
      std::erase_if(w.processes, [this](const WorldProcess& p) { return p.host && p.pid == pid_; });
      w.clockMs = std::max(w.clockMs, clockMs);
      return true;
    }, error);
  }

 private:
  const World& world_;
  int32_t pid_;
  bool ended_ = false;
};

}  // namespace

int ApplicationMain(int argc, char** argv, const DelegateFactory& factory, MacProgram program) {
  const std::string name = argc > 0 ? fs::path(argv[0]).filename().string() : "program";
  WorldState world;
  PlatformOptions options;
  std::string version;
  try {
    options = Context(argc, argv, world, version);
  } catch (const NoMac& failure) {
    std::cerr << name << ": " << failure.why << std::endl;
    return kExitNoSimulatedMac;
  }

  const char* depthText = std::getenv(kDepthVariable);
  const int depth = depthText ? std::atoi(depthText) : 0;
  setenv(kDepthVariable, std::to_string(depth + 1).c_str(), 1);  // for the programs this one starts

  std::ofstream transcriptFile;
  if (const char* path = std::getenv(kTranscriptVariable); path && *path) {
    transcriptFile.open(path, std::ios::app);
    if (!transcriptFile) {
      std::cerr << name << ": the transcript " << path << " cannot be written" << std::endl;
      return kExitNoSimulatedMac;
    }
  }
  std::string script;
  if (const char* path = std::getenv(kScriptVariable); path && *path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::cerr << name << ": the script " << path << " cannot be read" << std::endl;
      return kExitNoSimulatedMac;
    }
    std::ostringstream text;
    text << in.rdbuf();
    script = ScriptForProgram(text.str(), depth == 0, options.applicationName, options.arguments);
  }

  const World worldFile(options.world);
  Registration registration(worldFile, options);
  std::optional<Platform> made;
  try {
    made.emplace(options);
  } catch (const std::exception& error) {
    std::cerr << name << ": the simulated Mac cannot be joined: " << error.what() << std::endl;
    return kExitNoSimulatedMac;
  }
  Platform& platform = *made;
  Transcript& transcript = platform.transcript();
  transcript.setLabel(Label(options));
  transcript.setEcho(transcriptFile.is_open() ? static_cast<std::ostream*>(&transcriptFile) : &std::cout);
  std::string arguments;
  for (const std::string& a : options.arguments) arguments += " " + a;
  transcript.add("started " + options.bundlePath + arguments + " (" + options.applicationName +
                 (version.empty() ? "" : " " + version) + ", pid " + std::to_string(options.pid) + ")");

  // Whatever ends the program ends here: the world hears of it, the transcript is written out.
  auto finish = [&](int code) {
    registration.end(platform.clock().nowMs());
    if (code != 0) transcript.add("exit " + std::to_string(code));
    std::cout.flush();
    transcriptFile.flush();
    std::exit(code);
  };
  auto fail = [&](int code, const std::string& why) {
    transcript.add(std::string(kFailureMark) + why);
    std::cerr << options.applicationName << ": " << why << std::endl;
    finish(code);
  };

  try {
    Platform::Installation installation(platform);
    MacLibrary library(platform, program);
    if (!world.recorder.empty()) platform.connectRecorder(world.recorder);
    QueueScript(platform.simulation(), script);
    const std::unique_ptr<ApplicationDelegate> delegate = factory(platform);
    platform.application().setDelegate(delegate.get());
    platform.application().setProcessExit([&] { finish(0); });
    platform.application().run();
  } catch (const SimulationError& error) {
    fail(kExitSimulationFailed, error.what());
  } catch (const std::exception& error) {
    fail(kExitProgramFailed, std::string("the program failed: ") + error.what());
  }
  finish(0);
  return 0;
}

}  // namespace mac
