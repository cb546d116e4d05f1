#include "mac/updater/pages.h"

#include "mac/platform/platform.h"
#include "mac/shared/system.h"
#include "mac/updater/app_controller.h"
#include "mac/updater/device_manager.h"
#include "mac/updater/ini_file_manager.h"
#include "mac/updater/run_state.h"

namespace {

std::string VersionText(const _FIRM_VERSION& v) { return MacVersionText(v.major, v.minor); }

// The page's layout within the main window's box.
constexpr mac::Rect kPageFrame{{0, 0}, {560, 360}};

}  // namespace

void RunModalAlertText(mac::Window& window, const std::string& text) {
  FwUpAlertSheet& alert = FwUpAlertSheet::getObject();
  alert.setMessage1(text);
  alert.showWindow(window);
  FwUpAlertSheet::releaseObject();
}

void RunModalAlert(mac::Window& window, uint32_t id) { RunModalAlertText(window, LocalizedText(id)); }

FwUpWizardController::FwUpWizardController(FwUpAppController& app, mac::Window& window, MacPage page, std::string picture)
    : app_(app), window_(window), page_(page) {
  view_ = &window.make<mac::View>(kPageFrame);
  picture_ = &window.make<mac::ImageView>(mac::Rect{{20, 60}, {160, 280}});
  const std::string path = mac::Platform::current().mainBundle().resourcePath() + "/" + picture;
  picture_->setImage(mac::Image::initWithContentsOfFile(mac::Platform::current().fileManager(), path));
  view_->addSubview(*picture_);
  if (page != kMacPageConnect) {
    modelField_ = &window.make<mac::TextField>(mac::Rect{{200, 310}, {340, 20}});
    view_->addSubview(*modelField_);
  }
  explanationField_ = &window.make<mac::TextField>(mac::Rect{{200, 60}, {340, 240}});
  view_->addSubview(*explanationField_);
  first_ = &window.make<mac::Button>(mac::Rect{{340, 12}, {96, 32}});
  view_->addSubview(*first_);
  const bool hasSecond = page == kMacPageConfirm || page == kMacPageStart;
  if (hasSecond) {
    second_ = &window.make<mac::Button>(mac::Rect{{444, 12}, {96, 32}});
    second_->setKeyEquivalent("\r");
    view_->addSubview(*second_);
  } else {
    first_->setKeyEquivalent("\r");
  }
  switch (page) {
    case kMacPageConnect:
    case kMacPageConfirm:
      first_->setAction([this](mac::Button&) { doCancel(); });
      break;
    default:
      first_->setAction([this](mac::Button&) { doFinish(); });
      break;
  }
  if (page == kMacPageConfirm) second_->setAction([this](mac::Button&) { doNext(); });
  if (page == kMacPageStart) second_->setAction([this](mac::Button&) { doStart(); });
}

FwUpWizard1Controller::FwUpWizard1Controller(FwUpAppController& app, mac::Window& window)
    : FwUpWizardController(app, window, kMacPageConnect, "wizard1.jpg") {}
FwUpWizard21Controller::FwUpWizard21Controller(FwUpAppController& app, mac::Window& window)
    : FwUpWizardController(app, window, kMacPageConfirm, "wizard2.jpg") {}
FwUpWizard22Controller::FwUpWizard22Controller(FwUpAppController& app, mac::Window& window)
    : FwUpWizardController(app, window, kMacPageNoUpdate, "wizard2.jpg") {}
FwUpWizard3Controller::FwUpWizard3Controller(FwUpAppController& app, mac::Window& window)
    : FwUpWizardController(app, window, kMacPageStart, "wizard3.jpg") {}
FwUpWizard4Controller::FwUpWizard4Controller(FwUpAppController& app, mac::Window& window)
    : FwUpWizardController(app, window, kMacPageFinished, "wizard3.jpg") {}
FwUpWizard23Controller::FwUpWizard23Controller(FwUpAppController& app, mac::Window& window)
    : FwUpWizardController(app, window, kMacPageInvalid, "wizard2.jpg") {}

void FwUpWizardController::setLocalize() {
  using namespace mac_text;
  const FwUpIniFileManager* ini = FwUpIniFileManager::getObject();
  const bool factory = ini && ini->type() == FwUpIniFileManager::kTypeFactory;
  const MacPageLayout layout = MacPageLayoutFor(page_, GetCommandOptionNum(), factory, GetDisabledAppTerminate() != 0);

  std::string model = ini ? ini->model().value_or("") : "";
  _FIRM_VERSION device;
  if (FwUpDeviceManager::isGlobalObject()) {
    const FwUpDeviceManager& dm = FwUpDeviceManager::getObject();
    if (const auto name = dm.getModelName()) model = *name;
    dm.firmwareVersion(&device);
  }
  _FIRM_VERSION configured;
  if (ini) ini->version(&configured);
  const std::string recorder = LocalizedText(kRecorder);
  const std::string deviceVersion = VersionText(device);
  const std::string configuredVersion = VersionText(configured);

  first_->setTitle(LocalizedText(layout.firstButton));
  first_->setEnabled(layout.firstButtonEnabled);
  if (second_) {
    second_->setTitle(LocalizedText(layout.secondButton));
    second_->setEnabled(true);
  }
  if (modelField_) modelField_->setStringValue(LocalizedFormat(kModel, {model}));
  std::string text;
  switch (page_) {
    case kMacPageConnect: text = LocalizedFormat(kConnect, {configuredVersion, recorder, recorder}); break;
    case kMacPageConfirm: text = LocalizedFormat(kConfirm, {model, deviceVersion, configuredVersion, second_->title()}); break;
    case kMacPageNoUpdate: text = LocalizedFormat(kNoUpdate, {recorder, deviceVersion, configuredVersion}); break;
    case kMacPageStart: text = LocalizedFormat(kStart, {recorder}); break;
    case kMacPageFinished: text = LocalizedFormat(kFinished, {configuredVersion, model}); break;
    case kMacPageInvalid: text = LocalizedFormat(kInvalid, {model}); break;
    case kMacPageNone: break;
  }
  explanationField_->setStringValue(text);
}

void FwUpWizard4Controller::setActive() {
  setLocalize();
  // The recorder restarts into its new firmware once it is let go; it is no longer watched.
  FwUpDeviceManager::releaseObject();
}

const char* FwUpWizardController::closeNotification() const {
  switch (page_) {
    case kMacPageConnect: return kNotifyCloseWizard1;
    case kMacPageConfirm: return kNotifyCloseWizard21;
    case kMacPageNoUpdate: return kNotifyCloseWizard22;
    case kMacPageStart: return kNotifyCloseWizard3;
    case kMacPageInvalid: return kNotifyCloseWizard23;
    default: return kNotifyCloseWizard21;
  }
}

void FwUpWizardController::post(const char* notification, int nextPage) {
  mac::UserInfo info;
  info.set(kNotifyNextWindowType, int64_t{nextPage});
  mac::Platform::current().defaultCenter().postNotificationName(notification, this, info);
}

void FwUpWizardController::deviceAdded() {
  mac::Platform::current().defaultCenter().postNotificationName(kNotifyCloseWizard1, this);
}

void FwUpWizardController::deviceRemoved() {
  FwUpAlertSheet& alert = FwUpAlertSheet::getObject();
  alert.setDelegate(this);
  alert.setMessage1(LocalizedText(mac_text::kDisconnected));
  alert.showWindowAsync(window_);
}

void FwUpWizardController::sheetDidEnd(int) {
  FwUpAlertSheet::releaseObject();
  post(closeNotification(), kMacPageConnect);
}

void FwUpWizardController::doCancel() {
  SetDisabledAppTerminate(0);
  window_.close();
}

void FwUpWizardController::doFinish() {
  SetDisabledAppTerminate(0);
  window_.close();
}

void FwUpWizard4Controller::doFinish() {
  if (GetCommandOptionNum() == kRunStage1 || GetCommandOptionNum() == kRunStage2) CreateReflashCompleteCheckDir();
  FwUpWizardController::doFinish();
}

void FwUpWizardController::doNext() {
  const FwUpIniFileManager* ini = FwUpIniFileManager::getObject();
  if (ini && ini->type() == FwUpIniFileManager::kTypeFactory) {
    runUpdate();
  } else {
    post(kNotifyCloseWizard21, kMacPageStart);
  }
}

void FwUpWizardController::doStart() { runUpdate(); }

void FwUpWizardController::runUpdate() {
  using namespace mac_text;
  const FwUpIniFileManager* ini = FwUpIniFileManager::getObject();
  if (ini && !ini->admitLaunch() && isRunningVoxPlayer()) {
    RunModalAlert(window_, kPlayerRunning);
    return;
  }
  first_->setEnabled(false);
  second_->setEnabled(false);
  const int result = app_.deviceManager().runFirmwareUpdate(window_);
  if (result != 0) {
    FwUpDeviceManager::releaseObject();
    RunModalAlert(window_, result == 2 ? mac_text::kVolumesBusy : mac_text::kUpdateFailed);
    if (ProgramHasEnded()) return;
    if (result == 2) {
      first_->setEnabled(true);
      second_->setEnabled(true);
    } else {
      EndProgram();
    }
    return;
  }
  if (!app_.deviceManager().verifyFirmwareUpdate(window_)) {
    FwUpDeviceManager::releaseObject();
    RunModalAlert(window_, mac_text::kUpdateFailed);
    if (!ProgramHasEnded()) EndProgram();
    return;
  }
  post(kNotifyCloseWizard21, kMacPageFinished);
}
