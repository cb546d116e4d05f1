#include "mac/platform/platform.h"

#include "mac/platform/shell.h"

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <system_error>

namespace mac {

namespace {

std::atomic<Platform*> gCurrent{nullptr};

// "10.6.8" is 10, 6 and 8.
bool AtLeast(const std::string& version, int major, int minor) {
  int parts[2] = {0, 0};
  size_t i = 0;
  for (int& part : parts) {
    while (i < version.size() && version[i] >= '0' && version[i] <= '9') part = part * 10 + (version[i++] - '0');
    if (i < version.size() && version[i] == '.') ++i;
  }
  return parts[0] > major || (parts[0] == major && parts[1] >= minor);
}

Processes::Process Self(const PlatformOptions& o) {
  Processes::Process self;
  self.pid = o.pid;
  self.uid = o.uid;
  self.command = o.executableName;
  self.name = o.applicationName;
  self.bundlePath = o.bundlePath;
  self.application = true;
  return self;
}

std::vector<std::string> Arguments(const PlatformOptions& o) {
  std::vector<std::string> arguments{o.bundlePath + "/Contents/MacOS/" + o.executableName};
  arguments.insert(arguments.end(), o.arguments.begin(), o.arguments.end());
  return arguments;
}

}  // namespace

Platform::Root::Root(std::filesystem::path given) : path_(std::move(given)) {
  std::error_code ec;
  if (path_.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "zt-mac-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "no folder for the simulated Mac");
    path_ = pattern;
    owned_ = true;
  } else {
    std::filesystem::create_directories(path_, ec);
  }
}

Platform::Root::~Root() {
  if (!owned_) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

Platform::Platform(PlatformOptions options)
    : options_(std::move(options)),
      root_(options_.root),
      clock_(options_.realTime, options_.startMs),
      transcript_(clock_),
      runLoop_(clock_),
      files_(root_.path()),
      processes_(transcript_, Self(options_)),
      workspace_(processes_, files_, runLoop_, transcript_),
      volumes_(files_, runLoop_, transcript_, workspace_.notificationCenter()),
      usb_(clock_, iokit_, volumes_, transcript_),
      application_(runLoop_, transcript_),
      bundle_(files_, options_.bundlePath, options_.localizations),
      processInfo_(Arguments(options_), "Version " + options_.systemVersion + " (Build 10K549)", options_.pid,
                   options_.userName, "/Users/" + options_.userName),
      authorization_(clock_, files_, transcript_),
      appleEvents_(transcript_),
      loginItems_(files_, transcript_),
      power_(transcript_),
      simulation_(clock_, runLoop_, application_, transcript_, usb_, workspace_, authorization_) {
  for (const char* folder : {"/Applications", "/Library/Extensions", "/Library/Application Support",
                             "/System/Library/Extensions", "/System/Library/CoreServices", "/tmp", "/Volumes"}) {
    if (const auto host = files_.hostPath(folder)) {
      std::error_code ec;
      std::filesystem::create_directories(*host, ec);
    }
  }
  if (const auto home = files_.hostPath(processInfo_.homeDirectory() + "/Library/Application Support")) {
    std::error_code ec;
    std::filesystem::create_directories(*home, ec);
  }
  defaults_.setObject(std::string(UserDefaults::kAppleLanguages), options_.languages);
  runLoop_.setIdleHandler(&simulation_);
  if (!options_.world.empty()) joinWorld();
}

void Platform::worldUpdate(const std::function<bool(WorldState&)>& change) {
  std::string error;
  if (!world_->update(change, error)) std::cerr << "mac-sim: " << error << std::endl;
}

void Platform::joinWorld() {
  world_.emplace(options_.world);
  std::string error;
  const auto state = world_->read(error);
  if (!state) throw std::runtime_error(error);
  for (uint32_t user = 1; user < state->users; ++user) processes_.logInUser(options_.uid + user);

  Processes::Outside outside;
  outside.list = [this] {
    std::vector<Processes::Process> list;
    std::string why;
    const auto now = world_->read(why);
    if (!now) {
      std::cerr << "mac-sim: " << why << std::endl;
      return list;
    }
    for (const WorldProcess& w : now->processes) {
      Processes::Process p;
      p.pid = w.pid;
      p.uid = w.uid;
      p.command = w.name;
      p.name = w.name;
      p.bundlePath = w.bundlePath;
      p.application = true;
      list.push_back(std::move(p));
    }
    return list;
  };
  outside.start = [this](const Processes::Process& p) {
    pid_t pid = 0;
    worldUpdate([&](WorldState& w) {
      pid = w.nextPid++;
      w.processes.push_back({pid, p.uid, p.name, p.bundlePath, false});
      return true;
    });
    return pid;
  };
  outside.stop = [this](pid_t pid) {
    worldUpdate([pid](WorldState& w) { return std::erase_if(w.processes, [pid](const WorldProcess& p) { return p.pid == pid; }) > 0; });
  };
  processes_.setOutside(std::move(outside));

  authorization_.setOutside(
      [this]() -> std::optional<OSStatus> {
        std::optional<OSStatus> answer;
        worldUpdate([&](WorldState& w) {
          if (w.passwords.empty()) return false;
          const PasswordAnswer a = w.passwords.front();
          w.passwords.erase(w.passwords.begin());
          answer = a == PasswordAnswer::Grant    ? errAuthorizationSuccess
                   : a == PasswordAnswer::Refuse ? errAuthorizationDenied
                                                 : errAuthorizationCanceled;
          return true;
        });
        return answer;
      },
      [this](std::string_view tool, const std::vector<std::string>& arguments) { return runTool(tool, arguments); });

  appleEvents_.setRestartObserver([this] {
    worldUpdate([](WorldState& w) {
      w.restartRequested = true;
      return true;
    });
  });

  LoginItems::Store store;
  store.read = [this] {
    std::vector<LoginItems::Item> items;
    std::string why;
    if (const auto now = world_->read(why)) {
      for (const WorldLoginItem& item : now->loginItems) items.push_back({item.path, item.hidden});
    }
    return items;
  };
  store.update = [this](const std::function<bool(std::vector<LoginItems::Item>&)>& change) {
    bool answer = false;
    worldUpdate([&](WorldState& w) {
      std::vector<LoginItems::Item> items;
      for (const WorldLoginItem& item : w.loginItems) items.push_back({item.path, item.hidden});
      answer = change(items);
      w.loginItems.clear();
      for (const LoginItems::Item& item : items) w.loginItems.push_back({item.path, item.hidden});
      return answer;
    });
    return answer;
  };
  loginItems_.setStore(std::move(store));

  processes_.setShell([this](std::string_view command) { return runShell(command); });
}

std::chrono::milliseconds Platform::childLimit() {
  std::string error;
  const auto state = world_->read(error);
  return std::chrono::seconds(state ? state->childLimitSeconds : WorldState{}.childLimitSeconds);
}

void Platform::publishClock() {
  const uint64_t now = clock_.nowMs();
  worldUpdate([now](WorldState& w) {
    if (w.clockMs >= now) return false;
    w.clockMs = now;
    return true;
  });
}

void Platform::catchUpClock() {
  std::string error;
  if (const auto state = world_->read(error); state && state->clockMs > clock_.nowMs()) clock_.advanceTo(state->clockMs);
}

namespace {
std::string RootVariable(const std::filesystem::path& root) {
  std::error_code ec;
  return std::string(kRootVariable) + "=" + std::filesystem::absolute(root, ec).string();
}
}  // namespace

int Platform::runShell(std::string_view command) {
  const auto limit = childLimit();
  publishClock();
  const ChildRun run = RunShell(MapCommandToHost(command, files_), {RootVariable(root_.path())}, limit);
  catchUpClock();
  std::string how = "shell ended: " + DescribeStatus(run.status);
  if (run.timedOut) {
    how += " (stopped: it had not ended after " + std::to_string(limit.count() / 1000) + " s)";
    std::cerr << "mac-sim: the command " << command << " had not ended after " << limit.count() / 1000
              << " s and was stopped" << std::endl;
  }
  transcript_.add(how);
  return run.status;
}

OSStatus Platform::runTool(std::string_view toolPath, const std::vector<std::string>& arguments) {
  const auto host = files_.hostPath(toolPath);
  if (!host) return errAuthorizationToolExecuteFailure;
  std::vector<std::string> argv{host->string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const auto limit = childLimit();
  publishClock();
  const ChildRun run = RunChild(host->string(), argv, {RootVariable(root_.path())}, limit);
  catchUpClock();
  if (!run.started) return errAuthorizationToolExecuteFailure;
  transcript_.add("privileged tool ended: " + DescribeStatus(run.status) + (run.timedOut ? " (stopped: it did not end)" : ""));
  return errAuthorizationSuccess;
}

Platform::~Platform() {
  runLoop_.setIdleHandler(nullptr);
  usb_.disconnect();
  Platform* self = this;
  gCurrent.compare_exchange_strong(self, nullptr);
}

UsbOptions Platform::usbOptions() const {
  UsbOptions usb;
  usb.hostUsbStack = AtLeast(options_.systemVersion, 10, 11);
  return usb;
}

void Platform::connectRecorder(sim::Recorder& recorder) { usb_.connect(recorder, usbOptions()); }

void Platform::connectRecorder(const std::string& stateFile) { usb_.connect(stateFile, usbOptions()); }

Platform& Platform::current() {
  Platform* platform = gCurrent.load();
  if (!platform) throw std::logic_error("no simulated Mac is installed");
  return *platform;
}

bool Platform::hasCurrent() { return gCurrent.load() != nullptr; }

Platform::Installation::Installation(Platform& platform) {
  Platform* expected = nullptr;
  if (!gCurrent.compare_exchange_strong(expected, &platform)) throw std::logic_error("a simulated Mac is installed already");
}

Platform::Installation::~Installation() { gCurrent.store(nullptr); }

}  // namespace mac
