#pragma once
// NSWorkspace: the launched applications, launching an application or opening a file, and the
// workspace's own notification centre. The workspace's notifications come from outside the program,
// so they reach it through the run loop (default mode), never in the middle of a call.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mac/platform/foundation.h"
#include "mac/platform/processes.h"
#include "mac/platform/runloop.h"

namespace mac {

class Workspace {
 public:
  // One entry of launchedApplications (NSApplicationName, NSApplicationPath,
  // NSApplicationProcessIdentifier).
  struct Application {
    std::string name;
    std::string path;
    pid_t pid = 0;
  };

  Workspace(Processes& processes, const FileManager& files, RunLoop& runLoop, Transcript& transcript);

  NotificationCenter& notificationCenter() { return center_; }
  std::vector<Application> launchedApplications() const;
  // Starts the application bundle at `path`: false when there is none.
  bool launchApplication(std::string_view path);
  bool openFile(std::string_view path);

  // ---- The simulation's side ----
  // Another application starts or quits, as if the user did it.
  pid_t launch(std::string name, std::string path = {});
  bool quit(std::string_view name);
  // Another user takes over the screen (fast user switching).
  void switchUser();
  const std::vector<std::string>& openedFiles() const { return openedFiles_; }

 private:
  void announce(std::string_view notification, const Processes::Process& process);

  Processes& processes_;
  const FileManager& files_;
  RunLoop& runLoop_;
  Transcript& transcript_;
  NotificationCenter center_;
  std::vector<std::string> openedFiles_;
};

}  // namespace mac
