#pragma once
// The sheets of the Reflash main window: the one-button alert (shared, shown modally or with a
// callback), the Yes/No question, and the progress display of the update.

#include <functional>
#include <memory>
#include <string>

#include "mac/platform/appkit.h"

// Receives the end of an alert shown asynchronously.
class FwUpAlertSheetDelegate {
 public:
  virtual ~FwUpAlertSheetDelegate() = default;
  virtual void sheetDidEnd(int returnCode) = 0;
};

class FwUpAlertSheet {
 public:
  // The shared alert, made on first use; releaseObject destroys it.
  static FwUpAlertSheet& getObject();
  static void releaseObject();
  // The shared alert when it exists.
  static FwUpAlertSheet* existingObject();
  // endSheet to the shared alert, when there is one: an open alert closes when the recorder comes
  // or goes.
  static void endAnySheet();

  FwUpAlertSheet();
  ~FwUpAlertSheet();
  FwUpAlertSheet(const FwUpAlertSheet&) = delete;
  FwUpAlertSheet& operator=(const FwUpAlertSheet&) = delete;

  void setDelegate(FwUpAlertSheetDelegate* delegate) { delegate_ = delegate; }
  // Sets the text and fits the sheet to it.
  void setMessage1(const std::string& text);
  // Shown on `parent` until the user presses the button.
  void showWindow(mac::Window& parent);
  // Shown on `parent`; returns at once, the delegate hears of the end. Nothing without a delegate.
  void showWindowAsync(mac::Window& parent);
  void endSheet();
  void doOk();
  void setLocalize();
  void sizeToFit();

  mac::Window& window() { return window_; }
  mac::TextField& message() { return *message1_; }
  mac::Button& okButton() { return *okButton_; }
  mac::ImageView& image() { return *image_; }

  static constexpr double kMinimumMessageHeight = 62.0;
  static constexpr double kButtonBelowMessage = 36.0;

 private:
  mac::Window window_;
  FwUpAlertSheetDelegate* delegate_ = nullptr;
  bool isAsync_ = false;
  mac::ImageView* image_ = nullptr;
  mac::TextField* message1_ = nullptr;
  mac::Button* okButton_ = nullptr;
};

class FwUpAlertSheetWithYesNo {
 public:
  FwUpAlertSheetWithYesNo();
  void setMessage1(const std::string& text) { message1_->setStringValue(text); }
  // True for the first button.
  bool showWindow(mac::Window& parent);
  void doOk();
  void doCancel();
  void setLocalize();

 private:
  mac::Window window_;
  bool returnValue_ = false;
  mac::TextField* message1_ = nullptr;
  mac::Button* okButton_ = nullptr;
  mac::Button* cancelButton_ = nullptr;
};

class FwUpProgressSheet {
 public:
  FwUpProgressSheet();
  ~FwUpProgressSheet();
  FwUpProgressSheet(const FwUpProgressSheet&) = delete;
  FwUpProgressSheet& operator=(const FwUpProgressSheet&) = delete;

  void setWindowTitle(const std::string& title) { window_.setTitle(title); }
  void setMessage1(const std::string& text) { message1_->setStringValue(text); }
  void setMessage2(const std::string& text) { message2_->setStringValue(text); }
  void setIndeterminate(bool indeterminate);
  void setMaxValue(double value) { bar_->setMaxValue(value); }
  void setDoubleValue(double value);
  double maxValue() const { return bar_->maxValue(); }
  // A modal session for the parent with this sheet on it; the caller keeps it alive.
  mac::ModalSession showProgress(mac::Window& parent);
  void closeProgress();

  mac::Window& window() { return window_; }

 private:
  mac::Window window_;
  mac::TextField* message1_ = nullptr;
  mac::TextField* message2_ = nullptr;
  mac::ProgressIndicator* bar_ = nullptr;
  bool shown_ = false;
};
