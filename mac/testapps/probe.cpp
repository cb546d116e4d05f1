// Probe: a small Mac program for the tests of the simulated Mac. Its arguments are what it does, in
// order, once it has launched; then it quits.
//
//   list                     the launched applications' names
//   recorder                 whether the recorder is on the USB bus (after a second)
//   window                   a window "Probe" with a button "OK", run modally until it is clicked
//   child <path> args:<a>,<b>  runs <bundle>/Contents/Resources<path>/Contents/MacOS/<executable>
//                            with the arguments a, b through the shell, as the two-stage wrapper
//                            does, and waits
//   exit <n> | crash         ends at once: with exit code n, or as a crash
//   copy-self                copies its bundle to the user's Application Support and registers the
//                            copy as a login item
//   unregister-self          removes itself from the login items; a copy so found deletes itself
//                            at the end
//   restart                  asks for the system restart
//   marker <path>            creates the folder <path>
//   install-kext             installs the driver carried in its resources when the system needs it
//   text <key>               the bundle's localized text of <key>
//   "-nc1", "-nc2"           the stage switches, only shown
// Without arguments (started as a login item): unregister-self, list.
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "mac/app/application_main.h"
#include "mac/platform/platform.h"
#include "mac/shared/file_names.h"
#include "mac/shared/kext.h"
#include "mac/shared/system.h"

namespace {

class Probe : public mac::ApplicationDelegate {
 public:
  explicit Probe(mac::Platform& mac) : mac_(mac), window_(mac.application(), "Probe") {}

  void applicationDidFinishLaunching() override {
    std::vector<std::string> args = mac_.processInfo().arguments();
    // Started without arguments, as a login item is: what the updater does first at every start.
    if (args.size() == 1) args.insert(args.end(), {"unregister-self", "list"});
    for (size_t i = 1; i < args.size(); ++i) i = act(args, i);
    mac_.application().terminate();
    say("this line is never written: terminate ends the process");
  }

  void applicationWillTerminate() override {
    if (deleteSelf_) say(std::string("own bundle deleted: ") + (mac_.fileManager().removeFileAtPath(bundle()) ? "yes" : "no"));
  }

 private:
  void say(const std::string& text) { mac_.transcript().add(text); }
  std::string bundle() const { return mac_.mainBundle().bundlePath(); }

  std::unique_ptr<mac::LoginItemPlugin> plugin() {
    return mac_.loginItems().loadPlugin(mac_.mainBundle().resourcePath() + "/Leopard.bundle");
  }

  // Does the action at args[i]; answers the index of its last argument.
  size_t act(const std::vector<std::string>& args, size_t i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "list") {
      std::string names;
      for (const auto& app : mac_.workspace().launchedApplications()) names += (names.empty() ? "" : ", ") + app.name;
      say("running: " + names);
    } else if (a == "recorder") {
      mac_.clock().sleepFor(mac::Milliseconds(1000));
      say(std::string("recorder on the bus: ") + (mac_.usb().recorderPublished() ? "yes" : "no"));
    } else if (a == "window") {
      mac::Button& ok = window_.make<mac::Button>(mac::Rect{{380, 12}, {90, 32}}, "OK");
      ok.setAction([this](mac::Button&) { mac_.application().stopModal(); });
      window_.contentView().addSubview(ok);
      mac_.application().runModalForWindow(window_);
      window_.orderOut();
    } else if (a == "child") {
      const std::string path = next();
      std::string command = EscapePathForShell(bundle()) + "/Contents/Resources" + EscapePathForShell(path) + "/Contents/MacOS/";
      const auto executable = GetProperty(bundle() + "/Contents/Resources" + path, "CFBundleExecutable");
      command += executable && executable->string() ? EscapePathForShell(*executable->string()) : "missing";
      std::string list = next();
      if (list.starts_with("args:")) list.erase(0, 5);
      for (size_t start = 0; !list.empty() && start <= list.size();) {
        const size_t comma = list.find(',', start);
        command += " " + EscapePathForShell(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      const int status = mac_.processes().system(command);
      say("child status: " + std::to_string(status));
    } else if (a == "exit") {
      std::exit(std::atoi(next().c_str()));
    } else if (a == "crash") {
      std::signal(SIGSEGV, SIG_DFL);
      std::raise(SIGSEGV);
    } else if (a == "copy-self") {
      const std::string folder = mac_.processInfo().homeDirectory() + "/Library/Application Support/KESTREL";
      mac_.fileManager().createDirectoryAtPath(folder);
      mac_.fileManager().createDirectoryAtPath(folder + "/SCSIReflash");
      const std::string name = bundle().substr(bundle().rfind('/') + 1);
      const auto copy = renameIfExistAtPath(folder + "/SCSIReflash/" + name);
      if (copy && mac_.fileManager().copyPath(bundle(), *copy)) {
        say("copied to " + *copy);
        if (auto p = plugin()) p->LXAddLoginItem(*copy);
      }
    } else if (a == "unregister-self") {
      auto p = plugin();
      deleteSelf_ = p && p->LXRemoveLoginItem(bundle());
      say(std::string("was a login item: ") + (deleteSelf_ ? "yes" : "no"));
    } else if (a == "restart") {
      mac::AppleEvents& events = mac_.appleEvents();
      mac::AEAddressDesc address;
      mac::AppleEvent event;
      events.AECreateDesc(mac::typeProcessSerialNumber, {0, mac::kSystemProcess}, &address);
      events.AECreateAppleEvent(mac::kCoreEventClass, mac::kAERestart, address, mac::kAutoGenerateReturnID, mac::kAnyTransactionID, &event);
      events.AESendMessage(event, nullptr, mac::kAENoReply | mac::kAEAlwaysInteract | mac::kAECanSwitchLayer, mac::kAEDefaultTimeout);
    } else if (a == "marker") {
      const std::string path = next();
      say("marker " + path + ": " + (mac_.fileManager().createDirectoryAtPath(path) ? "made" : "not made"));
    } else if (a == "install-kext") {
      say(std::string("driver needed: ") + (NeedInstallKext() ? "yes" : "no"));
      say("install: " + std::to_string(InstallKext(GetNewKextPath())));
      say(std::string("driver needed now: ") + (NeedInstallKext() ? "yes" : "no"));
    } else if (a == "text") {
      const std::string key = next();
      say(key + " = " + mac_.mainBundle().localizedString(key).value_or("(none)"));
    }
    return i;
  }

  mac::Platform& mac_;
  mac::Window window_;
  bool deleteSelf_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  return mac::ApplicationMain(argc, argv, [](mac::Platform& mac) { return std::make_unique<Probe>(mac); });
}
