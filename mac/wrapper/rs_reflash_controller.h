#pragma once
// RSReflashController: Twinflash's application and window delegate. At its start it checks the
// bundle, the texts and the system, and reports what stands in the way (installing the driver with a
// restart and a relaunch through a login item when it is missing). Its window shows page 1; Next
// runs the stage 1 updater of its resources through the shell, and when that left its marker, page 2
// runs stage 2 the same way. Closing the window ends the application.
//
// The window with its three panes and the two alerts is what the program's interface file holds; the
// constructor makes them and then does what awakeFromNib does.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "mac/platform/platform.h"
#include "mac/wrapper/twinflash_rules.h"

class RSReflashController : public mac::ApplicationDelegate, public mac::WindowDelegate {
 public:
  explicit RSReflashController(mac::Platform& platform);
  ~RSReflashController() override;
  RSReflashController(const RSReflashController&) = delete;
  RSReflashController& operator=(const RSReflashController&) = delete;

  // The start-up checks; errStatus tells how far they came.
  void awakeFromNib();

  // Application delegate.
  void applicationWillFinishLaunching() override;
  mac::TerminateReply applicationShouldTerminate() override;
  void applicationWillTerminate() override;
  bool validateMenuItem(mac::MenuItem& item);
  // Window delegate.
  bool windowShouldClose(mac::Window&) override { return true; }
  void windowWillClose(mac::Window&) override;

  // Actions of the interface.
  void Wizard1Btn1Action();
  void Wizard1Btn2Action();
  void Wizard2Btn1Action();
  void Wizard3Btn1Action();
  void MenuQuitAction();
  void btnAlertAction();
  void btn1Alert2Action();
  void btn2Alert2Action();

  void setupWizard1();
  void setupWizard2();
  void setupWizard3();
  bool loadPreference();
  bool isExistBundleResource();
  void SetImage();
  void WindowShow(bool show);
  void FWUpAppCheckTimerStart();
  void FWUpAppCheckTimerStop();
  void FWUpAppCheck();
  std::optional<std::string> copySelfPackage();
  int requestSystemRestart();
  int terminatePlugMonitor();
  bool isRunningPlugMonitor();
  int launchPlugMonitor();
  void notifyLaunchVoxPlayer(const mac::Notification& notification);
  void notifyLaunchKestrelTunebox(const mac::Notification& notification);
  std::unique_ptr<mac::LoginItemPlugin> createCatFamilyForReflash();
  void doCancelButton();

  int32_t errStatus() const { return errStatus_; }
  int32_t blockedBy() const { return m_bErrStatusNum_; }
  uint32_t wizardNo() const { return wizardNo_; }
  uint32_t updateNo() const { return m_UpDateNo_; }
  bool isDeleteOwnBundle() const { return isDeleteOwnBundle_; }
  const TwinflashConfig& config() const { return config_; }
  mac::Window& window() { return myWindow_; }
  bool pollTimerRunning() const { return m_FWUpAppCheckTimer_ != nullptr; }


 private:
  void makeInterface();
  void makeMenu();
  void localizeTexts();
  void setPageTexts();
  // The one-button alert with `message` as a sheet on the window, until its button is pressed.
  void runAlert(const std::string& message);
  // The two-button alert; true when Yes was chosen.
  bool runAlert2(const std::string& message);
  void installDriver();
  void runStage(int stage);
  void showPane(mac::View* pane, uint32_t number);
  std::string text(uint32_t id);
  std::string resourcePath() const;

  mac::Platform& mac_;

  // Outlets.
  mac::Window myWindow_;
  mac::MenuItem* app_menu_ = nullptr;
  mac::MenuItem* menuItemAbout_ = nullptr;
  mac::MenuItem* menuItemHideMe_ = nullptr;
  mac::MenuItem* menuItemHideOther_ = nullptr;
  mac::MenuItem* menuItemShowAll_ = nullptr;
  mac::MenuItem* menuItemQuit_ = nullptr;
  mac::Box* viewPane_ = nullptr;
  mac::Window alertWindow_;
  mac::TextField* msgAlert_ = nullptr;
  mac::Button* Alert1Btn1_ = nullptr;
  mac::Window alertWindow2_;
  mac::TextField* msgAlert2_ = nullptr;
  mac::Button* Alert2Btn1_ = nullptr;
  mac::Button* Alert2Btn2_ = nullptr;
  mac::TextField* st1DialogMsg1_ = nullptr;
  mac::TextField* st1DialogMsg2_ = nullptr;
  mac::TextField* st2DialogMsg1_ = nullptr;
  mac::TextField* st2DialogMsg2_ = nullptr;
  mac::TextField* st3DialogMsg1_ = nullptr;
  mac::ImageView* Wizard1Img1_ = nullptr;
  mac::ImageView* Wizard2Img1_ = nullptr;
  mac::ImageView* Wizard3Img1_ = nullptr;
  mac::View* paneWz1_ = nullptr;
  mac::View* paneWz2_ = nullptr;
  mac::View* paneWz3_ = nullptr;
  mac::Button* Wz1Btn1_ = nullptr;
  mac::Button* Wz1Btn2_ = nullptr;
  mac::Button* Wz2Btn1_ = nullptr;
  mac::Button* Wz3Btn1_ = nullptr;

  // State.
  uint32_t wizardNo_ = 0;
  bool isAlert2ReturnOk_ = false;
  int32_t errStatus_ = kStartBuildError;
  TwinflashConfig config_;
  std::shared_ptr<mac::Timer> m_FWUpAppCheckTimer_;
  uint32_t m_UpDateNo_ = 0;
  bool isDeleteOwnBundle_ = false;
  bool isLaunchPlugMonitorOnAppEnd_ = false;
  int32_t m_bErrStatusNum_ = 0;
  bool isAdmitLaunch_ = false;
  // The window has gone: the application ends, whatever page it showed.
  bool windowClosed_ = false;
  bool hidden_ = false;
};
