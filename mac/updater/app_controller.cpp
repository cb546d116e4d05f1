#include "mac/updater/app_controller.h"

#include "mac/shared/file_names.h"
#include "mac/shared/kext.h"
#include "mac/shared/localize.h"
#include "mac/shared/localize_objects.h"
#include "mac/shared/system.h"
#include "mac/updater/ini_file_manager.h"
#include "mac/updater/run_state.h"
#include "mac/updater/sheets.h"

namespace {

// The fixed messages of a resource missing from the bundle.
std::string MissingMessage(std::string_view item) { return "[" + std::string(item) + "]ファイルが存在しません。"; }

constexpr int kMenuApplication = 1;
constexpr int kMenuAbout = 101;
constexpr int kMenuHide = 102;
constexpr int kMenuHideOthers = 103;
constexpr int kMenuShowAll = 104;
constexpr int kMenuQuit = 105;

uint32_t MenuTextFor(int tag) {
  switch (tag) {
    case kMenuApplication: return mac_text::kTitle;
    case kMenuAbout: return mac_text::kMenuAbout;
    case kMenuHide: return mac_text::kMenuHide;
    case kMenuHideOthers: return mac_text::kMenuHideOthers;
    case kMenuShowAll: return mac_text::kMenuShowAll;
    case kMenuQuit: return mac_text::kMenuQuit;
    default: return 0;
  }
}

void localizeMenuItem(mac::MenuItem& item) {
  if (const uint32_t id = MenuTextFor(item.tag())) item.setTitle(LocalizedText(id));
}

void localizeMenu(mac::Menu& menu) {
  for (size_t i = 0; i < menu.numberOfItems(); ++i) {
    mac::MenuItem& item = menu.itemAtIndex(i);
    if (item.isSeparatorItem()) continue;
    localizeMenuItem(item);
    if (item.hasSubmenu()) localizeMenu(*item.submenu());
  }
}

}  // namespace

FwUpAppController::FwUpAppController(mac::Platform& platform)
    : mac_(platform), window_(platform.application(), "Firmware Update", mac::Rect{{0, 0}, {560, 380}}) {
  // What the main nib holds: the window with its box, the six pages, and the main menu.
  mainBox_ = &window_.make<mac::Box>(mac::Rect{{0, 0}, {560, 380}});
  window_.contentView().addSubview(*mainBox_);
  window_.setDelegate(this);
  wizard1Controller_ = std::make_unique<FwUpWizard1Controller>(*this, window_);
  wizard21Controller_ = std::make_unique<FwUpWizard21Controller>(*this, window_);
  wizard22Controller_ = std::make_unique<FwUpWizard22Controller>(*this, window_);
  wizard23Controller_ = std::make_unique<FwUpWizard23Controller>(*this, window_);
  wizard3Controller_ = std::make_unique<FwUpWizard3Controller>(*this, window_);
  wizard4Controller_ = std::make_unique<FwUpWizard4Controller>(*this, window_);

  mac::Menu& main = mac_.application().mainMenu();
  if (!main.itemWithTag(kMenuApplication)) {
    mac::MenuItem& app = main.addItem("Reflash", kMenuApplication);
    mac::Menu& menu = app.setSubmenu(std::make_unique<mac::Menu>("Reflash"));
    menu.addItem("About Reflash", kMenuAbout);
    menu.addSeparator();
    menu.addItem("Hide Reflash", kMenuHide);
    menu.addItem("Hide Others", kMenuHideOthers);
    menu.addItem("Show All", kMenuShowAll);
    menu.addSeparator();
    menu.addItem("Quit Reflash", kMenuQuit);
  }
  // awakeFromNib.
  window_.center();
}

FwUpAppController::~FwUpAppController() {
  FwUpDeviceManager::releaseObject();
  FwUpAlertSheet::releaseObject();
  mac_.workspace().notificationCenter().removeObserver(this);
  mac_.defaultCenter().removeObserver(this);
  mainBox_->setContentView(nullptr);
  FwUpIniFileManager::releaseObject();
  CMLocalize::releaseObject();
}

FwUpWizardController* FwUpAppController::page(MacPage page) {
  switch (page) {
    case kMacPageConnect: return wizard1Controller_.get();
    case kMacPageConfirm: return wizard21Controller_.get();
    case kMacPageNoUpdate: return wizard22Controller_.get();
    case kMacPageStart: return wizard3Controller_.get();
    case kMacPageFinished: return wizard4Controller_.get();
    case kMacPageInvalid: return wizard23Controller_.get();
    case kMacPageNone: break;
  }
  return nullptr;
}

FwUpDeviceManager& FwUpAppController::deviceManager() {
  // A manager made again after a failed update reports here too.
  const bool made = !FwUpDeviceManager::isGlobalObject();
  FwUpDeviceManager& dm = FwUpDeviceManager::getObject();
  if (made) {
    dm.setDelegate(this);
    dm.setReflashDeviceNotifyOnOff(true);
  }
  return dm;
}

// ---- Launch ----

void FwUpAppController::applicationDidFinishLaunching() {
  window_.makeKeyAndOrderFront();
  runLaunchSequence();
}

void FwUpAppController::alertAndEnd(uint32_t id) {
  RunModalAlert(window_, id);
  if (!ProgramHasEnded()) EndProgram();
}

void FwUpAppController::runLaunchSequence() {
  using namespace mac_text;
  // 1. The configuration (it has told what is wrong with it).
  if (!FwUpIniFileManager::iniFileManagerObject(stringWithInsensitiveResourcePathName("FwUpDate.INI"))) {
    EndProgram();
    return;
  }
  // 2. Every resource.
  if (!isExistBundleResource()) {
    if (!ProgramHasEnded()) EndProgram();
    return;
  }
  // 3-5. Texts, title, menus.
  CMLocalize::localizeObject(mac_.mainBundle().pathForResource("glossaries", "txt"));
  if (FwUpAlertSheet* alert = FwUpAlertSheet::existingObject()) alert->setLocalize();
  window_.setTitle(LocalizedText(kTitle));
  initDefaultMenu();
  // 6. A driver was installed and the computer has not restarted since.
  if (mac_.fileManager().fileExistsAtPath(kRebootCheckDir)) return alertAndEnd(kRestartRequired);
  // 7. The copy started as a login item takes itself off the list.
  if (auto plugin = createCatFamilyForReflash()) isRemoveLoginItem_ = plugin->LXRemoveLoginItem(mac_.mainBundle().bundlePath());
  // 8-12.
  if (!isNewerThisSystemVersion(10, 5, 0)) return alertAndEnd(kOldSystem);
  checkCommandOptionNum();
  if (getUserCount() > 1) return alertAndEnd(kTwoUsers);
  if (isRunningReflash()) return alertAndEnd(kAlreadyRunning);
  const FwUpIniFileManager& ini = *FwUpIniFileManager::getObject();
  if (!ini.admitLaunch() && isRunningVoxPlayer()) return alertAndEnd(kPlayerRunning);
  // 13.
  if (NeedInstallKext()) return installDriver();
  // 14-15.
  terminatePlugMonitor();
  deviceManager();
  if (ProgramHasEnded()) return;
  // 16-18.
  mac::NotificationCenter& workspace = mac_.workspace().notificationCenter();
  if (!ini.admitLaunch()) {
    workspace.addObserver(this, std::string(mac::NSWorkspaceWillLaunchApplicationNotification),
                          [this](const mac::Notification& n) { notifyLaunchApp(n); });
  }
  workspace.addObserver(this, std::string(mac::NSWorkspaceSessionDidResignActiveNotification),
                        [this](const mac::Notification& n) { notifyUserSwitch(n); });
  for (const char* name : {kNotifyCloseWizard1, kNotifyCloseWizard21, kNotifyCloseWizard22, kNotifyCloseWizard23,
                           kNotifyCloseWizard3}) {
    mac_.defaultCenter().addObserver(this, name, [this](const mac::Notification& n) { notify(n); });
  }
  // 19-21.
  mac::ProcessSerialNumber self;
  if (mac_.processes().GetCurrentProcess(&self) == mac::noErr) mac_.processes().SetFrontProcess(self);
  setEnabledCloseButton(false);
  showPageForDevice();
}

void FwUpAppController::installDriver() {
  using namespace mac_text;
  RunModalAlert(window_, kInstallDriver);
  if (ProgramHasEnded()) return;
  if (InstallKext(GetNewKextPath()) != 0) return alertAndEnd(kDriverFailed);
  mac_.fileManager().createDirectoryAtPath(kRebootCheckDir);
  if (const auto copy = copySelfPackage(); copy && !copy->empty()) {
    if (auto plugin = createCatFamilyForReflash()) plugin->LXAddLoginItem(*copy);
  }
  FwUpAlertSheetWithYesNo question;
  question.setMessage1(LocalizedText(kRestartQuestion));
  if (question.showWindow(window_)) requestSystemRestart();
  if (!ProgramHasEnded()) EndProgram();
}

bool FwUpAppController::isExistBundleResource() {
  const std::string resources = mac_.mainBundle().resourcePath();
  const auto entries = mac_.fileManager().directoryContentsAtPath(resources);
  if (!entries) return false;
  auto present = [&](std::string_view name) {
    for (const std::string& entry : *entries) {
      if (mac::SameNameIgnoringCase(entry, name)) return true;
    }
    return false;
  };
  // Both driver folders must hold the driver under its exact name.
  auto kextIn = [&](std::string_view folder) {
    for (const std::string& entry : *entries) {
      if (!mac::SameNameIgnoringCase(entry, folder)) continue;
      bool directory = false;
      const std::string path = resources + "/" + entry;
      if (!mac_.fileManager().fileExistsAtPath(path, &directory) || !directory) continue;
      for (const std::string& inner : mac_.fileManager().directoryContentsAtPath(path).value_or(std::vector<std::string>{})) {
        if (inner == kKextName) return true;
      }
    }
    return false;
  };
  std::optional<std::string> missing;
  for (const char* item : {"wizard1.jpg", "wizard2.jpg", "wizard3.jpg", "glossaries.txt", "FwUpDate.INI"}) {
    if (!present(item)) {
      missing = item;
      break;
    }
  }
  if (!missing && !(kextIn("KextV2") && kextIn("KextV3"))) missing = std::string(kKextName);
  if (!missing && !present("Firm.bin")) missing = "Firm.bin";
  const FwUpIniFileManager* ini = FwUpIniFileManager::getObject();
  if (!missing && ini && ini->isFirmware2Section() && !present("Firm2.bin")) missing = "Firm2.bin";
  if (!missing) return true;
  RunModalAlertText(window_, MissingMessage(*missing));
  return false;
}

void FwUpAppController::checkCommandOptionNum() {
  const MacCommandOptions options = ParseMacCommandOptions(mac_.processInfo().arguments());
  if (options.quitLock) SetDisabledAppTerminate(1);
  SetCommandOptionNum(options.runMode);
}

void FwUpAppController::setEnabledCloseButton(bool enabled) {
  if (!GetDisabledAppTerminate()) return;
  window_.standardWindowButton(mac::WindowButton::Close).setEnabled(enabled);
}

void FwUpAppController::initDefaultMenu() {
  mac::Menu& main = mac_.application().mainMenu();
  localizeMenu(main);
  mac::MenuItem* app = main.itemWithTag(kMenuApplication);
  if (!app || !app->hasSubmenu()) return;
  mac::Menu& menu = *app->submenu();
  if (mac::MenuItem* quit = menu.itemWithTag(kMenuQuit)) {
    quit->setAction([this](mac::MenuItem& item) { doMenuAction(item); });
    quit->setValidator([this](mac::MenuItem& item) { return validateMenuItem(item); });
  }
  // The standard actions of an application menu.
  if (mac::MenuItem* about = menu.itemWithTag(kMenuAbout)) {
    about->setAction([this](mac::MenuItem&) {
      const auto version = mac_.mainBundle().objectForInfoDictionaryKey("CFBundleShortVersionString");
      mac_.application().runAlertPanel(mac_.options().applicationName,
                                       "Version " + (version && version->string() ? *version->string() : std::string("?")));
    });
  }
  if (mac::MenuItem* hide = menu.itemWithTag(kMenuHide)) {
    hide->setAction([this](mac::MenuItem&) {
      hidden_ = true;
      window_.orderOut();
    });
  }
  if (mac::MenuItem* others = menu.itemWithTag(kMenuHideOthers)) {
    others->setAction([this](mac::MenuItem&) { mac_.transcript().add("other applications hidden"); });
  }
  if (mac::MenuItem* all = menu.itemWithTag(kMenuShowAll)) {
    all->setAction([this](mac::MenuItem&) {
      if (!hidden_) return;
      hidden_ = false;
      window_.orderFront();
    });
  }
}

void FwUpAppController::doMenuAction(mac::MenuItem& item) {
  if (item.tag() == kMenuQuit) window_.close();
}

bool FwUpAppController::validateMenuItem(mac::MenuItem& item) {
  return item.tag() != kMenuQuit || !GetDisabledAppTerminate();
}

// ---- Pages ----

void FwUpAppController::showPage(MacPage number) {
  FwUpWizardController* controller = page(number);
  if (!controller) return;
  windowType_ = number;
  windowObj_ = controller;
  // The texts are in place before the page appears; setActive then finds nothing to change in them.
  controller->setLocalize();
  mainBox_->setContentView(&controller->view());
  controller->setActive();
}

void FwUpAppController::showPageForDevice() {
  FwUpDeviceManager& dm = deviceManager();
  const FwUpIniFileManager* ini = FwUpIniFileManager::getObject();
  MacDeviceFacts facts;
  facts.held = dm.isReflashDevice();
  if (facts.held) {
    facts.invalid = dm.isInvalidDevice();
    facts.factory = ini && ini->type() == FwUpIniFileManager::kTypeFactory;
    if (!facts.invalid && !facts.factory && ini) {
      _FIRM_VERSION device;
      dm.firmwareVersion(&device);
      facts.versionOrder = ini->compareWithVersion(&device);
    }
  }
  const MacFirstPage choice = ChooseMacFirstPage(facts, GetCommandOptionNum());
  if (choice.createCompleteMarker) CreateReflashCompleteCheckDir();
  if (choice.releaseQuitLock) {
    setEnabledCloseButton(true);
    SetDisabledAppTerminate(0);
  }
  showPage(choice.page);
}

void FwUpAppController::finishPath() {
  const MacFinish finish = DecideMacFinish(GetCommandOptionNum());
  if (finish.createCompleteMarker) CreateReflashCompleteCheckDir();
  if (finish.endProgram) {
    // As page 5 would: the recorder is let go and restarts into its new firmware.
    FwUpDeviceManager::releaseObject();
    EndProgram();
    return;
  }
  setEnabledCloseButton(true);
  SetDisabledAppTerminate(0);
  showPage(kMacPageFinished);
}

void FwUpAppController::notify(const mac::Notification& notification) {
  setEnabledCloseButton(false);
  if (notification.name == kNotifyCloseWizard1) {
    showPageForDevice();
  } else {
    if (notification.userInfo) {
      if (const auto next = notification.userInfo->number(kNotifyNextWindowType)) windowType_ = static_cast<int>(*next);
    }
    const MacSwitchDecision decision = DecideMacSwitch(notification.name, windowType_, GetCommandOptionNum());
    switch (decision.action) {
      case MacSwitch::ShowPage:
        if (decision.setQuitLock) {
          SetDisabledAppTerminate(1);
          setEnabledCloseButton(false);
        }
        showPage(decision.page);
        break;
      case MacSwitch::Finish: finishPath(); break;
      case MacSwitch::EndProgram: EndProgram(); break;
      case MacSwitch::Nothing: return;
    }
  }
  if (ProgramHasEnded() || windowType_ != kMacPageConnect) return;
  // Back on the first page: the primary entry again, and a recorder already there is taken up.
  if (FwUpIniFileManager* ini = FwUpIniFileManager::getObject()) ini->initIsFirm2Bin();
  if (FwUpDeviceManager::isGlobalObject()) deviceManager().readyReflashDeviceResource();
}

void FwUpAppController::deviceAdded(FwUpDeviceManager&) {
  if (windowType_ == kMacPageConnect && windowObj_) windowObj_->deviceAdded();
}

void FwUpAppController::deviceRemoved(FwUpDeviceManager&) {
  if (windowType_ == kMacPageConnect || windowType_ == kMacPageFinished || !windowObj_) return;
  windowObj_->deviceRemoved();
}

void FwUpAppController::firmwareWillUpdate(FwUpDeviceManager&) {
  // From here on neither a user switch nor the player's start ends the program.
  mac_.workspace().notificationCenter().removeObserver(this);
}

void FwUpAppController::notifyUserSwitch(const mac::Notification& notification) {
  if (notification.name != mac::NSWorkspaceSessionDidResignActiveNotification) return;
  FwUpDeviceManager::releaseObject();
  FwUpAlertSheet::endAnySheet();
  alertAndEnd(mac_text::kUserSwitched);
}

void FwUpAppController::notifyLaunchApp(const mac::Notification& notification) {
  const auto name = notification.userInfo ? notification.userInfo->string(mac::NSApplicationName) : std::nullopt;
  if (name != "VoxPlayer" && name != "VoxPlayer for Mac") return;
  FwUpDeviceManager::releaseObject();
  FwUpAlertSheet::endAnySheet();
  alertAndEnd(mac_text::kPlayerStarted);
}

// ---- Ending ----

mac::TerminateReply FwUpAppController::applicationShouldTerminate() {
  return GetDisabledAppTerminate() ? mac::TerminateReply::Cancel : mac::TerminateReply::Now;
}

void FwUpAppController::applicationWillTerminate() {
  launchPlugMonitor();
  if (isRemoveLoginItem_) {
    mac_.fileManager().removeFileAtPath(mac_.mainBundle().bundlePath());
    isRemoveLoginItem_ = false;
  }
}

void FwUpAppController::windowWillClose(mac::Window&) { mac_.application().terminate(); }

// ---- The system around ----

bool FwUpAppController::isRunningPlugMonitor() { return IsPlugMonitorRunning(mac_); }
int FwUpAppController::terminatePlugMonitor() { return StopPlugMonitor(mac_, isTerminatePlugMonitor_); }
int FwUpAppController::launchPlugMonitor() { return StartPlugMonitorAgain(mac_, isTerminatePlugMonitor_); }

std::optional<std::string> FwUpAppController::copySelfPackage() {
  const mac::FileManager& files = mac_.fileManager();
  std::string folder = mac_.processInfo().homeDirectory();
  for (const char* level : {"Library/Application Support", "KESTREL", "SCSIReflash"}) {
    folder = JoinPath(folder, level);
    bool directory = false;
    if (files.fileExistsAtPath(folder, &directory) && directory) continue;
    // "Library/Application Support" is two levels.
    if (std::string_view(level).find('/') != std::string_view::npos) {
      files.createDirectoryAtPath(folder.substr(0, folder.rfind('/')));
    }
    if (!files.createDirectoryAtPath(folder)) return std::nullopt;
  }
  const std::string bundle = mac_.mainBundle().bundlePath();
  const auto destination = renameIfExistAtPath(JoinPath(folder, bundle.substr(bundle.rfind('/') + 1)));
  if (!destination || !files.copyPath(bundle, *destination)) return std::nullopt;
  return destination;
}

std::unique_ptr<mac::LoginItemPlugin> FwUpAppController::createCatFamilyForReflash() {
  const bool tiger = GetSystemMajorVersion() == 10 && GetSystemMinorVersion() < 5;
  return mac_.loginItems().loadPlugin(mac_.mainBundle().resourcePath() + (tiger ? "/Tiger.bundle" : "/Leopard.bundle"));
}

int FwUpAppController::requestSystemRestart() {
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
