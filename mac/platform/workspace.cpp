#include "mac/platform/workspace.h"

#include "mac/platform/transcript.h"

namespace mac {

Workspace::Workspace(Processes& processes, const FileManager& files, RunLoop& runLoop, Transcript& transcript)
    : processes_(processes), files_(files), runLoop_(runLoop), transcript_(transcript) {
  processes_.setObserver([this](const Processes::Process& process, bool started) {
    if (!process.application) return;
    if (started) {
      announce(NSWorkspaceWillLaunchApplicationNotification, process);
      announce(NSWorkspaceDidLaunchApplicationNotification, process);
    } else {
      announce(NSWorkspaceDidTerminateApplicationNotification, process);
    }
  });
}

void Workspace::announce(std::string_view notification, const Processes::Process& process) {
  UserInfo info;
  info.set(std::string(NSApplicationName), process.name)
      .set(std::string(NSApplicationPath), process.bundlePath)
      .set(std::string(NSApplicationProcessIdentifier), static_cast<int64_t>(process.pid));
  runLoop_.perform(RunLoopMode::Default, [this, name = std::string(notification), info = std::move(info)] {
    center_.postNotificationName(name, nullptr, info);
  });
}

std::vector<Workspace::Application> Workspace::launchedApplications() const {
  std::vector<Application> list;
  for (const auto& p : processes_.table()) {
    if (p.application) list.push_back({p.name, p.bundlePath, p.pid});
  }
  return list;
}

namespace {
// "/Applications/Plug Monitor.app" is "Plug Monitor".
std::string BundleName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  std::string name(path.substr(slash == std::string_view::npos ? 0 : slash + 1));
  if (name.size() > 4 && name.ends_with(".app")) name.resize(name.size() - 4);
  return name;
}
}  // namespace

bool Workspace::launchApplication(std::string_view path) {
  bool folder = false;
  if (!files_.fileExistsAtPath(path, &folder) || !folder) return false;
  launch(BundleName(path), std::string(path));
  return true;
}

bool Workspace::openFile(std::string_view path) {
  if (!files_.fileExistsAtPath(path)) return false;
  openedFiles_.emplace_back(path);
  transcript_.add("opened " + std::string(path));
  return true;
}

pid_t Workspace::launch(std::string name, std::string path) {
  if (path.empty()) path = "/Applications/" + name + ".app";
  transcript_.add("application \"" + name + "\" started");
  return processes_.start(name, name, processes_.getuid(), std::move(path), true);
}

bool Workspace::quit(std::string_view name) {
  for (const auto& p : processes_.table()) {
    if (p.application && p.name == name && p.pid != processes_.self().pid) {
      transcript_.add("application \"" + p.name + "\" quit");
      processes_.stop(p.pid);
      return true;
    }
  }
  return false;
}

void Workspace::switchUser() {
  transcript_.add("another user takes over the screen");
  runLoop_.perform(RunLoopMode::Default, [this] {
    center_.postNotificationName(std::string(NSWorkspaceSessionDidResignActiveNotification));
  });
}

}  // namespace mac
