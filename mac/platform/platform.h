#pragma once
// One simulated Mac: the root of everything the Mac programs call in place of the system's
// frameworks, and of the simulation that drives them. A program or test creates one Platform, passes
// it (or its parts) where they are needed, and destroys it at the end; the Platform owns every
// backend, and the backends refer to each other only within it.
//
// The Mac programs keep some process-wide objects of their own that are created on first use (their
// device manager, configuration and localization singletons); those reach the platform through
// Platform::current(), which a program's main or a test installs for the Platform's lifetime with a
// Platform::Installation. There is no platform until one is installed, and never two at once.
//
// The Mac's file system is a folder of this machine: a fresh temporary one (removed with the
// Platform) unless the options name one, which is then kept. It holds the usual system folders.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mac/platform/appkit.h"
#include "mac/platform/clock.h"
#include "mac/platform/files.h"
#include "mac/platform/foundation.h"
#include "mac/platform/iokit.h"
#include "mac/platform/power.h"
#include "mac/platform/processes.h"
#include "mac/platform/runloop.h"
#include "mac/platform/simulation.h"
#include "mac/platform/transcript.h"
#include "mac/platform/usb.h"
#include "mac/platform/workspace.h"
#include "mac/platform/world.h"

namespace sim {
struct Recorder;
}

namespace mac {

struct PlatformOptions {
  std::filesystem::path root;                 // empty: a new temporary folder
  std::string systemVersion = "10.6.8";       // as in "Version 10.6.8 (Build 10K549)"
  std::string applicationName = "Firmware Update";
  std::string bundlePath = "/Applications/Firmware Update.app";
  std::string executableName = "Reflash";
  std::vector<std::string> arguments;         // after the program's own path
  std::vector<std::string> languages = {"en"};        // the user default AppleLanguages
  std::vector<std::string> localizations = {"English"};  // the bundle's preferred localizations
  std::string userName = "user";
  uid_t uid = 501;
  pid_t pid = 4242;
  bool realTime = false;                      // time passes for real (see Clock)
  uint64_t startMs = 0;                       // the simulated time the run begins at
  // The world file of a simulated Mac on disk (world.h): then the other programs, login items,
  // password answers and restart requests are the world's, the shell runs real programs inside the
  // same Mac, and the privileged tool is run as the program it is. Empty: this process is alone.
  std::filesystem::path world;
};

class Platform {
 public:
  explicit Platform(PlatformOptions options = {});
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  ~Platform();

  const PlatformOptions& options() const { return options_; }

  Clock& clock() { return clock_; }
  RunLoop& runLoop() { return runLoop_; }
  Application& application() { return application_; }
  NotificationCenter& defaultCenter() { return defaultCenter_; }
  Workspace& workspace() { return workspace_; }
  Bundle& mainBundle() { return bundle_; }
  UserDefaults& userDefaults() { return defaults_; }
  ProcessInfo& processInfo() { return processInfo_; }
  FileManager& fileManager() { return files_; }
  Volumes& volumes() { return volumes_; }
  IOKit& iokit() { return iokit_; }
  Processes& processes() { return processes_; }
  Authorization& authorization() { return authorization_; }
  AppleEvents& appleEvents() { return appleEvents_; }
  LoginItems& loginItems() { return loginItems_; }
  PowerManagement& power() { return power_; }
  Transcript& transcript() { return transcript_; }

  // The simulation's side.
  Simulation& simulation() { return simulation_; }
  // The world of a simulated Mac on disk, when the options name one.
  const World* world() const { return world_ ? &*world_ : nullptr; }
  UsbBus& usb() { return usb_; }
  // The recorder on the USB bus with the class names of this system's USB stack.
  void connectRecorder(sim::Recorder& recorder);
  void connectRecorder(const std::string& stateFile);
  UsbOptions usbOptions() const;

  static Platform& current();
  static bool hasCurrent();
  class Installation {
   public:
    explicit Installation(Platform& platform);
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;
    ~Installation();
  };

 private:
  // Owns a temporary root folder; declared first, so it goes last.
  class Root {
   public:
    explicit Root(std::filesystem::path given);
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
    ~Root();
    const std::filesystem::path& path() const { return path_; }

   private:
    std::filesystem::path path_;
    bool owned_ = false;
  };

  PlatformOptions options_;
  Root root_;
  Clock clock_;
  Transcript transcript_;
  RunLoop runLoop_;
  FileManager files_;
  NotificationCenter defaultCenter_;
  Processes processes_;
  Workspace workspace_;
  Volumes volumes_;
  IOKit iokit_;
  UsbBus usb_;
  Application application_;
  Bundle bundle_;
  UserDefaults defaults_;
  ProcessInfo processInfo_;
  Authorization authorization_;
  AppleEvents appleEvents_;
  LoginItems loginItems_;
  PowerManagement power_;
  Simulation simulation_;
  std::optional<World> world_;

  void joinWorld();
  // The world's time follows this process's while it starts a child, and this process's the
  // world's when the child has ended.
  void publishClock();
  void catchUpClock();
  int runShell(std::string_view command);
  OSStatus runTool(std::string_view toolPath, const std::vector<std::string>& arguments);
  std::chrono::milliseconds childLimit();
  void worldUpdate(const std::function<bool(WorldState&)>& change);
};

}  // namespace mac
