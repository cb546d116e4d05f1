#pragma once
// FwUpAppController: the application delegate of Reflash and the delegate of its main window. It
// runs the launch checks in their order, installs the recorder's driver when it is missing (with a
// restart and a relaunch through a login item), chooses the first page, swaps the pages when one is
// done, holds the quit lock of a wrapper stage, stops the Plug Monitor for the run, and ends the
// program when another user takes the screen or the voice player starts.

#include <memory>
#include <optional>
#include <string>

#include "common/mac_wizard_rules.h"
#include "mac/platform/platform.h"
#include "mac/updater/device_manager.h"
#include "mac/updater/pages.h"

class FwUpAppController : public mac::ApplicationDelegate, public mac::WindowDelegate, public FwUpDeviceManagerDelegate {
 public:
  explicit FwUpAppController(mac::Platform& platform);
  ~FwUpAppController() override;

  // Application delegate.
  void applicationDidFinishLaunching() override;
  mac::TerminateReply applicationShouldTerminate() override;
  void applicationWillTerminate() override;
  // Window delegate.
  bool windowShouldClose(mac::Window&) override { return true; }
  void windowWillClose(mac::Window&) override;
  // Device manager delegate.
  void deviceAdded(FwUpDeviceManager&) override;
  void deviceRemoved(FwUpDeviceManager&) override;
  void firmwareWillUpdate(FwUpDeviceManager&) override;

  // The shared device manager, told to report to this controller.
  FwUpDeviceManager& deviceManager();

  bool isExistBundleResource();
  void checkCommandOptionNum();
  void setEnabledCloseButton(bool enabled);
  void initDefaultMenu();
  void doMenuAction(mac::MenuItem& item);
  bool validateMenuItem(mac::MenuItem& item);
  void notify(const mac::Notification& notification);
  void notifyUserSwitch(const mac::Notification& notification);
  void notifyLaunchApp(const mac::Notification& notification);
  bool isRunningPlugMonitor();
  int terminatePlugMonitor();
  int launchPlugMonitor();
  std::optional<std::string> copySelfPackage();
  std::unique_ptr<mac::LoginItemPlugin> createCatFamilyForReflash();
  int requestSystemRestart();

  int windowType() const { return windowType_; }
  mac::Window& window() { return window_; }
  FwUpWizardController* page(MacPage page);


 private:
  void showPage(MacPage page);
  // The rule "page for the connected device".
  void showPageForDevice();
  void finishPath();
  // A modal alert with a glossary text, then the end of the program.
  void alertAndEnd(uint32_t id);
  void runLaunchSequence();
  void installDriver();

  mac::Platform& mac_;
  int windowType_ = 0;
  FwUpWizardController* windowObj_ = nullptr;
  bool isTerminatePlugMonitor_ = false;
  bool isRemoveLoginItem_ = false;
  mac::Window window_;
  mac::Box* mainBox_ = nullptr;
  std::unique_ptr<FwUpWizard1Controller> wizard1Controller_;
  std::unique_ptr<FwUpWizard21Controller> wizard21Controller_;
  std::unique_ptr<FwUpWizard22Controller> wizard22Controller_;
  std::unique_ptr<FwUpWizard23Controller> wizard23Controller_;
  std::unique_ptr<FwUpWizard3Controller> wizard3Controller_;
  std::unique_ptr<FwUpWizard4Controller> wizard4Controller_;
  bool hidden_ = false;
};
