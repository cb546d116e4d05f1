#include "mac/updater/sheets.h"

#include <algorithm>

#include "mac/platform/platform.h"
#include "mac/shared/localize.h"
#include "mac/updater/run_state.h"

namespace {

std::unique_ptr<FwUpAlertSheet> gAlertSheetObj;

mac::Application& App() { return mac::Platform::current().application(); }

}  // namespace

// ---- FwUpAlertSheet ----

FwUpAlertSheet& FwUpAlertSheet::getObject() {
  if (!gAlertSheetObj) gAlertSheetObj = std::make_unique<FwUpAlertSheet>();
  return *gAlertSheetObj;
}

void FwUpAlertSheet::releaseObject() {
  // The alert may be released from its own callback: it goes once the call has returned to us.
  std::unique_ptr<FwUpAlertSheet> gone = std::move(gAlertSheetObj);
}

FwUpAlertSheet* FwUpAlertSheet::existingObject() { return gAlertSheetObj.get(); }

void FwUpAlertSheet::endAnySheet() {
  if (gAlertSheetObj) gAlertSheetObj->endSheet();
}

FwUpAlertSheet::FwUpAlertSheet() : window_(App(), "", mac::Rect{{0, 0}, {440, 130}}) {
  image_ = &window_.make<mac::ImageView>(mac::Rect{{20, 50}, {64, 64}});
  message1_ = &window_.make<mac::TextField>(mac::Rect{{100, 56}, {320, kMinimumMessageHeight}});
  okButton_ = &window_.make<mac::Button>(mac::Rect{{330, 20}, {90, 32}}, "OK");
  okButton_->setKeyEquivalent("\r");
  okButton_->setAction([this](mac::Button&) { doOk(); });
  mac::View& content = window_.contentView();
  content.addSubview(*image_);
  content.addSubview(*message1_);
  content.addSubview(*okButton_);
  setLocalize();
}

FwUpAlertSheet::~FwUpAlertSheet() {
  if (isAsync_) window_.orderOut();
}

void FwUpAlertSheet::setLocalize() {
  okButton_->setTitle(CMLocalize::getLocalizeObject() ? LocalizedText(13101) : std::string("OK"));
}

void FwUpAlertSheet::setMessage1(const std::string& text) {
  message1_->setStringValue(text);
  sizeToFit();
}

void FwUpAlertSheet::sizeToFit() {
  const mac::Rect field = message1_->frame();
  const mac::Size needed = message1_->cellSizeForBounds(field);
  const double height = std::max(needed.height, kMinimumMessageHeight);
  const double d = field.size.height - height;
  mac::Rect frame = window_.frame();
  frame.size.height -= d;
  window_.setFrame(frame, false);
  image_->setFrameOrigin({image_->frame().origin.x, image_->frame().origin.y - d});
  message1_->setFrame(mac::Rect{field.origin, {needed.width, height}});
  okButton_->setFrameOrigin({okButton_->frame().origin.x, field.origin.y - kButtonBelowMessage});
}

void FwUpAlertSheet::showWindow(mac::Window& parent) {
  isAsync_ = false;
  App().beginSheet(window_, parent);
  App().runModalForWindow(window_);
  endSheet();
  window_.orderOut();
}

void FwUpAlertSheet::showWindowAsync(mac::Window& parent) {
  if (!delegate_) return;
  isAsync_ = true;
  FwUpAlertSheetDelegate* delegate = delegate_;
  App().beginSheet(window_, parent, [delegate](mac::Window& sheet, int code) {
    sheet.orderOut();
    delegate->sheetDidEnd(code);
  });
}

void FwUpAlertSheet::endSheet() { App().endSheet(window_); }

void FwUpAlertSheet::doOk() {
  if (isAsync_) {
    endSheet();  // the delegate's callback follows, and may release this alert
  } else {
    App().stopModal();
  }
}

// ---- FwUpAlertSheetWithYesNo ----

FwUpAlertSheetWithYesNo::FwUpAlertSheetWithYesNo() : window_(App(), "", mac::Rect{{0, 0}, {440, 150}}) {
  message1_ = &window_.make<mac::TextField>(mac::Rect{{100, 60}, {320, 80}});
  okButton_ = &window_.make<mac::Button>(mac::Rect{{330, 16}, {90, 32}}, "Yes");
  cancelButton_ = &window_.make<mac::Button>(mac::Rect{{230, 16}, {90, 32}}, "No");
  okButton_->setKeyEquivalent("\r");
  okButton_->setAction([this](mac::Button&) { doOk(); });
  cancelButton_->setAction([this](mac::Button&) { doCancel(); });
  mac::View& content = window_.contentView();
  content.addSubview(*message1_);
  content.addSubview(*cancelButton_);
  content.addSubview(*okButton_);
  setLocalize();
}

void FwUpAlertSheetWithYesNo::setLocalize() {
  if (!CMLocalize::getLocalizeObject()) return;
  okButton_->setTitle(LocalizedText(13101));
  cancelButton_->setTitle(LocalizedText(13102));
}

bool FwUpAlertSheetWithYesNo::showWindow(mac::Window& parent) {
  App().beginSheet(window_, parent);
  App().runModalForWindow(window_);
  App().endSheet(window_);
  window_.orderOut();
  return returnValue_;
}

void FwUpAlertSheetWithYesNo::doOk() {
  returnValue_ = true;
  App().stopModal();
}

void FwUpAlertSheetWithYesNo::doCancel() {
  returnValue_ = false;
  App().stopModal();
}

// ---- FwUpProgressSheet ----

FwUpProgressSheet::FwUpProgressSheet() : window_(App(), "", mac::Rect{{0, 0}, {420, 120}}) {
  message1_ = &window_.make<mac::TextField>(mac::Rect{{20, 80}, {380, 20}});
  bar_ = &window_.make<mac::ProgressIndicator>(mac::Rect{{20, 50}, {380, 20}});
  message2_ = &window_.make<mac::TextField>(mac::Rect{{20, 20}, {380, 20}});
  mac::View& content = window_.contentView();
  content.addSubview(*message1_);
  content.addSubview(*bar_);
  content.addSubview(*message2_);
}

FwUpProgressSheet::~FwUpProgressSheet() { closeProgress(); }

void FwUpProgressSheet::setIndeterminate(bool indeterminate) {
  bar_->setIndeterminate(indeterminate);
  bar_->startAnimation();
}

void FwUpProgressSheet::setDoubleValue(double value) {
  bar_->setDoubleValue(value);
  bar_->setNeedsDisplay();
}

mac::ModalSession FwUpProgressSheet::showProgress(mac::Window& parent) {
  const mac::ModalSession session = App().beginModalSessionForWindow(parent);
  App().beginSheet(window_, parent);
  shown_ = true;
  return session;
}

void FwUpProgressSheet::closeProgress() {
  if (!shown_) return;
  shown_ = false;
  bar_->stopAnimation();
  App().endSheet(window_);
  window_.orderOut();
}
