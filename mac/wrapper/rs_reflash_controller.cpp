#include "mac/wrapper/rs_reflash_controller.h"

#include "common/mac_wizard_rules.h"
#include "mac/shared/file_names.h"
#include "mac/shared/ini_file.h"
#include "mac/shared/kext.h"
#include "mac/shared/localize.h"
#include "mac/shared/markers.h"
#include "mac/shared/system.h"

namespace {

constexpr mac::Rect kWindowFrame{{0, 0}, {560, 380}};
constexpr mac::Rect kPaneFrame{{0, 0}, {560, 360}};

// A pane of the window: its picture at the left, its texts at the right, its buttons below.
struct PaneParts {
  mac::View* pane;
  mac::ImageView* picture;
};

PaneParts MakePane(mac::Window& window) {
  mac::View& pane = window.make<mac::View>(kPaneFrame);
  mac::ImageView& picture = window.make<mac::ImageView>(mac::Rect{{20, 60}, {160, 280}});
  pane.addSubview(picture);
  return {&pane, &picture};
}

mac::TextField* AddText(mac::Window& window, mac::View& pane, mac::Rect frame) {
  mac::TextField& field = window.make<mac::TextField>(frame);
  pane.addSubview(field);
  return &field;
}

mac::Button* AddButton(mac::Window& window, mac::View& pane, double x, std::string title, bool isDefault,
                       std::function<void()> action) {
  mac::Button& button = window.make<mac::Button>(mac::Rect{{x, 12}, {96, 32}}, std::move(title));
  if (isDefault) button.setKeyEquivalent("\r");
  button.setAction([action = std::move(action)](mac::Button&) { action(); });
  pane.addSubview(button);
  return &button;
}

}  // namespace

RSReflashController::RSReflashController(mac::Platform& platform)
    : mac_(platform),
      myWindow_(platform.application(), "Firmware Update", kWindowFrame),
      alertWindow_(platform.application(), "", mac::Rect{{0, 0}, {440, 130}}),
      alertWindow2_(platform.application(), "", mac::Rect{{0, 0}, {440, 150}}) {
  makeInterface();
  makeMenu();
  awakeFromNib();
}

RSReflashController::~RSReflashController() {
  FWUpAppCheckTimerStop();
  // The menu is the application's and outlives this controller.
  for (mac::MenuItem* item : {menuItemAbout_, menuItemHideMe_, menuItemHideOther_, menuItemShowAll_, menuItemQuit_}) {
    item->setAction({});
    item->setValidator({});
  }
  mac_.workspace().notificationCenter().removeObserver(this);
  viewPane_->setContentView(nullptr);
}

// ---- The interface file ----

void RSReflashController::makeInterface() {
  viewPane_ = &myWindow_.make<mac::Box>(kPaneFrame);
  myWindow_.contentView().addSubview(*viewPane_);
  myWindow_.setDelegate(this);

  const PaneParts one = MakePane(myWindow_);
  paneWz1_ = one.pane;
  Wizard1Img1_ = one.picture;
  st1DialogMsg1_ = AddText(myWindow_, *paneWz1_, mac::Rect{{200, 250}, {340, 90}});
  st1DialogMsg2_ = AddText(myWindow_, *paneWz1_, mac::Rect{{200, 60}, {340, 170}});
  Wz1Btn1_ = AddButton(myWindow_, *paneWz1_, 340, "Cancel", false, [this] { Wizard1Btn1Action(); });
  Wz1Btn2_ = AddButton(myWindow_, *paneWz1_, 444, "Next", true, [this] { Wizard1Btn2Action(); });

  const PaneParts two = MakePane(myWindow_);
  paneWz2_ = two.pane;
  Wizard2Img1_ = two.picture;
  st2DialogMsg1_ = AddText(myWindow_, *paneWz2_, mac::Rect{{200, 250}, {340, 90}});
  st2DialogMsg2_ = AddText(myWindow_, *paneWz2_, mac::Rect{{200, 60}, {340, 170}});
  Wz2Btn1_ = AddButton(myWindow_, *paneWz2_, 444, "Next", true, [this] { Wizard2Btn1Action(); });

  const PaneParts three = MakePane(myWindow_);
  paneWz3_ = three.pane;
  Wizard3Img1_ = three.picture;
  st3DialogMsg1_ = AddText(myWindow_, *paneWz3_, mac::Rect{{200, 60}, {340, 280}});
  Wz3Btn1_ = AddButton(myWindow_, *paneWz3_, 444, "Finish", true, [this] { Wizard3Btn1Action(); });

  mac::View& alert = alertWindow_.contentView();
  msgAlert_ = &alertWindow_.make<mac::TextField>(mac::Rect{{100, 56}, {320, 62}});
  Alert1Btn1_ = &alertWindow_.make<mac::Button>(mac::Rect{{330, 20}, {90, 32}}, "OK");
  Alert1Btn1_->setKeyEquivalent("\r");
  Alert1Btn1_->setAction([this](mac::Button&) { btnAlertAction(); });
  alert.addSubview(*msgAlert_);
  alert.addSubview(*Alert1Btn1_);

  // The button titled Yes confirms.
  mac::View& alert2 = alertWindow2_.contentView();
  msgAlert2_ = &alertWindow2_.make<mac::TextField>(mac::Rect{{100, 60}, {320, 80}});
  Alert2Btn1_ = &alertWindow2_.make<mac::Button>(mac::Rect{{230, 16}, {90, 32}}, "No");
  Alert2Btn2_ = &alertWindow2_.make<mac::Button>(mac::Rect{{330, 16}, {90, 32}}, "Yes");
  Alert2Btn2_->setKeyEquivalent("\r");
  Alert2Btn1_->setAction([this](mac::Button&) { btn2Alert2Action(); });
  Alert2Btn2_->setAction([this](mac::Button&) { btn1Alert2Action(); });
  alert2.addSubview(*msgAlert2_);
  alert2.addSubview(*Alert2Btn1_);
  alert2.addSubview(*Alert2Btn2_);
}

void RSReflashController::makeMenu() {
  mac::Menu& main = mac_.application().mainMenu();
  app_menu_ = &main.addItem("TWINFLASH");
  mac::Menu& menu = app_menu_->setSubmenu(std::make_unique<mac::Menu>("TWINFLASH"));
  menuItemAbout_ = &menu.addItem("About TWINFLASH");
  menu.addSeparator();
  menuItemHideMe_ = &menu.addItem("Hide TWINFLASH");
  menuItemHideOther_ = &menu.addItem("Hide Others");
  menuItemShowAll_ = &menu.addItem("Show All");
  menu.addSeparator();
  menuItemQuit_ = &menu.addItem("Quit TWINFLASH");
  for (mac::MenuItem* item : {menuItemAbout_, menuItemHideMe_, menuItemHideOther_, menuItemShowAll_, menuItemQuit_}) {
    item->setValidator([this](mac::MenuItem& i) { return validateMenuItem(i); });
  }
  menuItemQuit_->setAction([this](mac::MenuItem&) { MenuQuitAction(); });
  menuItemAbout_->setAction([this](mac::MenuItem&) {
    const auto version = mac_.mainBundle().objectForInfoDictionaryKey("CFBundleShortVersionString");
    mac_.application().runAlertPanel(menuItemAbout_->title(),
                                     "Version " + (version && version->string() ? *version->string() : std::string("?")));
  });
  menuItemHideMe_->setAction([this](mac::MenuItem&) {
    hidden_ = myWindow_.isVisible();
    myWindow_.orderOut();
  });
  menuItemHideOther_->setAction([this](mac::MenuItem&) { mac_.transcript().add("other applications hidden"); });
  menuItemShowAll_->setAction([this](mac::MenuItem&) {
    if (!hidden_) return;
    hidden_ = false;
    myWindow_.orderFront();
  });
}

// ---- Start-up ----

std::string RSReflashController::resourcePath() const { return mac_.mainBundle().resourcePath(); }

std::string RSReflashController::text(uint32_t id) {
  CMLocalize* texts = CMLocalize::getLocalizeObject();
  return texts ? texts->getLocalizedString(std::to_string(id)) : std::string();
}

void RSReflashController::awakeFromNib() {
  // 1.
  myWindow_.center();
  mac_.application().setDelegate(this);
  // 2-3. Every check that fails leaves its result and stops here.
  errStatus_ = kStartBuildError;
  if (!loadPreference()) return;
  CMLocalize* texts = CMLocalize::localizeObject(resourcePath() + config_.grossaryPath);
  if (!texts || !texts->hasTable()) return;
  // 4.
  localizeTexts();
  // 5-6.
  if (isRunningReflash()) {
    errStatus_ = kStartAlreadyRunning;
    return;
  }
  if (mac_.fileManager().fileExistsAtPath(kRebootCheckDir)) {
    errStatus_ = kStartRestartPending;
    return;
  }
  // 7. A copy started by its login item takes itself off the list, and goes at the end.
  if (auto plugin = createCatFamilyForReflash()) isDeleteOwnBundle_ = plugin->LXRemoveLoginItem(mac_.mainBundle().bundlePath());
  // 8-9.
  if (!isAdmitLaunch_) {
    const int32_t blocked = isRunningVoxPlayer() ? kBlockedByPlayer : isRunningKestrelTunebox() ? kBlockedByTunebox : 0;
    if (blocked != 0) {
      errStatus_ = kStartProgramRunning;
      m_bErrStatusNum_ = blocked;
      return;
    }
  }
  if (NeedInstallKext()) {
    errStatus_ = kStartNeedDriver;
    return;
  }
  // 10-13.
  terminatePlugMonitor();
  setPageTexts();
  if (!isAdmitLaunch_) {
    mac::NotificationCenter& workspace = mac_.workspace().notificationCenter();
    const std::string name(mac::NSWorkspaceWillLaunchApplicationNotification);
    workspace.addObserver(this, name, [this](const mac::Notification& n) { notifyLaunchVoxPlayer(n); });
    workspace.addObserver(this, name, [this](const mac::Notification& n) { notifyLaunchKestrelTunebox(n); });
  }
  SetImage();
  // 14.
  errStatus_ = kStartReady;
  setupWizard1();
}

bool RSReflashController::loadPreference() {
  FwUpIniFile* ini = FwUpIniFile::iniFileObject(resourcePath() + "/" + std::string(kTwinflashIniName));
  const auto config = ReadTwinflashConfig(ini ? ini->getIniFileSectionDictionary(kTwinflashSection) : nullptr);
  if (!config) return false;
  config_ = *config;
  isAdmitLaunch_ = config_.admitLaunch;
  return isExistBundleResource();
}

bool RSReflashController::isExistBundleResource() {
  const std::string resources = resourcePath();
  return HasTwinflashResources(config_, [&](std::string_view folder) {
    return mac_.fileManager().directoryContentsAtPath(folder.empty() ? resources : JoinPath(resources, folder));
  });
}

void RSReflashController::localizeTexts() {
  using namespace mac_text;
  myWindow_.setTitle(text(kTitle));
  // The menus carry the name the bundle gives itself in the user's language.
  if (const auto name = mac_.mainBundle().localizedString("CFBundleName", "InfoPlist")) {
    CMLocalize& texts = *CMLocalize::getLocalizeObject();
    menuItemAbout_->setTitle(FormatLocalizedText(texts.getLocalizedString(std::to_string(kMenuAbout)), {*name}));
    menuItemHideMe_->setTitle(FormatLocalizedText(texts.getLocalizedString(std::to_string(kMenuHide)), {*name}));
    menuItemQuit_->setTitle(FormatLocalizedText(texts.getLocalizedString(std::to_string(kMenuQuit)), {*name}));
    app_menu_->setTitle(*name);
  }
  menuItemHideOther_->setTitle(text(kMenuHideOthers));
  menuItemShowAll_->setTitle(text(kMenuShowAll));
  Alert1Btn1_->setTitle(text(kYes));
  Alert2Btn1_->setTitle(text(kNo));
  Alert2Btn2_->setTitle(text(kYes));
}

void RSReflashController::setPageTexts() {
  using namespace twin_text;
  st1DialogMsg1_->setStringValue(FormatLocalizedText(text(kPage1Message1), {config_.model}));
  st1DialogMsg2_->setStringValue(text(kPage1Message2));
  Wz1Btn1_->setTitle(text(mac_text::kCancelButton));
  Wz1Btn2_->setTitle(text(mac_text::kNextButton));
  st2DialogMsg1_->setStringValue(text(kPage2Message1));
  st2DialogMsg2_->setStringValue(text(kPage2Message2));
  Wz2Btn1_->setTitle(text(mac_text::kNextButton));
  st3DialogMsg1_->setStringValue(FormatLocalizedText(text(kPage3Message1), {}));
  Wz3Btn1_->setTitle(text(mac_text::kFinishButton));
}

void RSReflashController::SetImage() {
  const std::string resources = resourcePath();
  Wizard1Img1_->setImage(mac::Image::initWithContentsOfFile(mac_.fileManager(), resources + config_.st1DialogImagePath));
  Wizard2Img1_->setImage(mac::Image::initWithContentsOfFile(mac_.fileManager(), resources + config_.nd2DialogImagePath));
}

// ---- The report of the start ----

void RSReflashController::applicationWillFinishLaunching() {
  // The window is visible at launch, as the interface file has it.
  myWindow_.makeKeyAndOrderFront();
  const auto message = StartupMessage(errStatus_, m_bErrStatusNum_);
  if (!message) return;
  if (*message == 0) {
    const std::string key(kBuildErrorKey);
    runAlert(mac_.mainBundle().localizedString(key).value_or(key));
  } else {
    runAlert(text(*message));
  }
  if (mac_.application().isTerminated()) return;
  if (errStatus_ == kStartNeedDriver) installDriver();
  if (!mac_.application().isTerminated()) myWindow_.close();
}

void RSReflashController::installDriver() {
  if (InstallKext(GetNewKextPath()) != 0) {
    runAlert(text(mac_text::kDriverFailed));
    return;
  }
  mac_.fileManager().createDirectoryAtPath(kRebootCheckDir);
  if (const auto copy = copySelfPackage(); copy && !copy->empty()) {
    if (auto plugin = createCatFamilyForReflash()) plugin->LXAddLoginItem(*copy);
  }
  if (runAlert2(text(mac_text::kRestartQuestion))) requestSystemRestart();
}

void RSReflashController::runAlert(const std::string& message) {
  msgAlert_->setStringValue(message);
  mac::Application& app = mac_.application();
  app.beginSheet(alertWindow_, myWindow_);
  app.runModalForWindow(alertWindow_);
  app.endSheet(alertWindow_);
  alertWindow_.orderOut();
}

bool RSReflashController::runAlert2(const std::string& message) {
  isAlert2ReturnOk_ = false;
  msgAlert2_->setStringValue(message);
  mac::Application& app = mac_.application();
  app.beginSheet(alertWindow2_, myWindow_);
  app.runModalForWindow(alertWindow2_);
  app.endSheet(alertWindow2_);
  alertWindow2_.orderOut();
  return isAlert2ReturnOk_;
}

void RSReflashController::btnAlertAction() { mac_.application().stopModal(); }

void RSReflashController::btn1Alert2Action() {
  isAlert2ReturnOk_ = true;
  mac_.application().stopModal();
}

void RSReflashController::btn2Alert2Action() {
  isAlert2ReturnOk_ = false;
  mac_.application().stopModal();
}

// ---- Pages ----

void RSReflashController::showPane(mac::View* pane, uint32_t number) {
  viewPane_->setContentView(pane);
  wizardNo_ = number;
}

void RSReflashController::setupWizard1() { showPane(paneWz1_, 1); }
void RSReflashController::setupWizard2() { showPane(paneWz2_, 2); }
void RSReflashController::setupWizard3() { showPane(paneWz3_, 3); }

void RSReflashController::WindowShow(bool show) {
  if (show) {
    myWindow_.makeKeyAndOrderFront();
  } else {
    myWindow_.orderOut();
  }
}

void RSReflashController::Wizard1Btn1Action() { doCancelButton(); }

void RSReflashController::doCancelButton() {
  if (runAlert2(text(twin_text::kEndQuestion)) && !mac_.application().isTerminated()) myWindow_.close();
}

void RSReflashController::Wizard3Btn1Action() { myWindow_.close(); }

void RSReflashController::MenuQuitAction() { myWindow_.close(); }

// ---- The stages ----

void RSReflashController::Wizard1Btn2Action() {
  // A marker left by an earlier run must not pass for this one's.
  mac_.fileManager().removeFileAtPath(kCompleteCheckDir);
  runStage(1);
}

void RSReflashController::Wizard2Btn1Action() {
  // The poll after stage 1 has removed the marker.
  runStage(2);
}

void RSReflashController::runStage(int stage) {
  WindowShow(false);
  FWUpAppCheckTimerStart();
  // The shell returns when the stage updater has ended; nothing else is handled meanwhile.
  mac_.processes().system(StageCommand(mac_.mainBundle().bundlePath(), stage == 1 ? config_.fwPath1 : config_.fwPath2, stage));
  m_UpDateNo_ = static_cast<uint32_t>(stage);
  WindowShow(false);
}

void RSReflashController::FWUpAppCheckTimerStart() {
  FWUpAppCheckTimerStop();
  mac::RunLoop& loop = mac_.runLoop();
  m_FWUpAppCheckTimer_ = loop.scheduledTimerWithTimeInterval(0.5, true, [this](mac::Timer&) { FWUpAppCheck(); });
  // Also while the user holds a menu open.
  loop.addTimer(m_FWUpAppCheckTimer_, mac::RunLoopMode::EventTracking);
}

void RSReflashController::FWUpAppCheckTimerStop() {
  if (!m_FWUpAppCheckTimer_) return;
  m_FWUpAppCheckTimer_->invalidate();
  m_FWUpAppCheckTimer_.reset();
}

void RSReflashController::FWUpAppCheck() {
  for (const auto& app : mac_.workspace().launchedApplications()) {
    if (app.name == kStageApplicationName) return;
  }
  FWUpAppCheckTimerStop();
  mac::FileManager& files = mac_.fileManager();
  const StageEndDecision d = DecideStageEnd(m_UpDateNo_, files.fileExistsAtPath(kCompleteCheckDir));
  if (d.removeMarker) files.removeFileAtPath(kCompleteCheckDir);
  if (d.action == StageEnd::ShowPage2) {
    menuItemQuit_->setEnabled(false);
    myWindow_.standardWindowButton(mac::WindowButton::Close).setEnabled(false);
    setupWizard2();
    WindowShow(true);
    mac::ProcessSerialNumber self;
    if (mac_.processes().GetCurrentProcess(&self) == mac::noErr) mac_.processes().SetFrontProcess(self);
    return;
  }
  if (d.clearWizardNo) wizardNo_ = 0;
  myWindow_.close();
}

// ---- Ending ----

mac::TerminateReply RSReflashController::applicationShouldTerminate() {
  // Page 2 refuses the user's quit; once the window has gone the application ends in any case.
  return wizardNo_ == 2 && !windowClosed_ ? mac::TerminateReply::Cancel : mac::TerminateReply::Now;
}

bool RSReflashController::validateMenuItem(mac::MenuItem&) { return wizardNo_ != 2; }

void RSReflashController::windowWillClose(mac::Window&) {
  windowClosed_ = true;
  FWUpAppCheckTimerStop();
  mac_.application().terminate();
}

void RSReflashController::applicationWillTerminate() {
  launchPlugMonitor();
  if (isDeleteOwnBundle_) {
    mac_.fileManager().removeFileAtPath(mac_.mainBundle().bundlePath());
    isDeleteOwnBundle_ = false;
  }
}

// ---- Programs started meanwhile ----

void RSReflashController::notifyLaunchVoxPlayer(const mac::Notification& notification) {
  const auto name = notification.userInfo ? notification.userInfo->string(mac::NSApplicationName) : std::nullopt;
  if (name != "VoxPlayer for Mac" && name != "VoxPlayer") return;
  runAlert(text(mac_text::kPlayerRunning));
  if (!mac_.application().isTerminated()) myWindow_.close();
}

void RSReflashController::notifyLaunchKestrelTunebox(const mac::Notification& notification) {
  const auto name = notification.userInfo ? notification.userInfo->string(mac::NSApplicationName) : std::nullopt;
  if (name != "Kestrel Tunebox") return;
  runAlert(text(twin_text::kTuneboxRunning));
  if (!mac_.application().isTerminated()) myWindow_.close();
}

// ---- The system around ----

bool RSReflashController::isRunningPlugMonitor() { return IsPlugMonitorRunning(mac_); }
int RSReflashController::terminatePlugMonitor() { return StopPlugMonitor(mac_, isLaunchPlugMonitorOnAppEnd_); }
int RSReflashController::launchPlugMonitor() { return StartPlugMonitorAgain(mac_, isLaunchPlugMonitorOnAppEnd_); }

std::optional<std::string> RSReflashController::copySelfPackage() {
  const mac::FileManager& files = mac_.fileManager();
  std::string folder = mac_.processInfo().homeDirectory();
  for (const char* level : {"Library", "Application Support", "KESTREL", "Twinflash"}) {
    folder = JoinPath(folder, level);
    bool directory = false;
    if (files.fileExistsAtPath(folder, &directory) && directory) continue;
    if (!files.createDirectoryAtPath(folder)) return std::nullopt;
  }
  const std::string bundle = mac_.mainBundle().bundlePath();
  const auto destination = renameIfExistAtPath(JoinPath(folder, LastPathComponent(bundle)));
  if (!destination || !files.copyPath(bundle, *destination)) return std::nullopt;
  return destination;
}

std::unique_ptr<mac::LoginItemPlugin> RSReflashController::createCatFamilyForReflash() {
  return mac_.loginItems().loadPlugin(resourcePath() + "/Leopard.bundle");
}

int RSReflashController::requestSystemRestart() {
  mac::AppleEvents& events = mac_.appleEvents();
  mac::AEAddressDesc address;
  if (events.AECreateDesc(mac::typeProcessSerialNumber, {0, mac::kSystemProcess}, &address) != mac::noErr) return -1;
  mac::AppleEvent event;
  if (events.AECreateAppleEvent(mac::kCoreEventClass, mac::kAERestart, address, mac::kAutoGenerateReturnID,
                                mac::kAnyTransactionID, &event) != mac::noErr) {
    return -2;
  }
  return events.AESendMessage(event, nullptr, mac::kAENoReply | mac::kAEAlwaysInteract | mac::kAECanSwitchLayer,
                              mac::kAEDefaultTimeout);
}
