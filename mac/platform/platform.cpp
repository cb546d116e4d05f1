#include "mac/platform/platform.h"

#include <atomic>
#include <cstdlib>
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
      clock_(options_.realTime),
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
