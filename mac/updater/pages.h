#pragma once
// The six wizard pages of Reflash: each fills its texts from the glossary, the recorder and the
// configuration, answers its buttons, and tells the application controller by a page notification
// that it is done. Pages 2 (factory images) and 4 start the update.

#include <string>

#include "common/mac_wizard_rules.h"
#include "mac/platform/appkit.h"
#include "mac/updater/sheets.h"

class FwUpAppController;

class FwUpWizardController : public FwUpAlertSheetDelegate {
 public:
  FwUpWizardController(FwUpAppController& app, mac::Window& window, MacPage page, std::string picture);
  ~FwUpWizardController() override = default;

  MacPage page() const { return page_; }
  mac::View& view() { return *view_; }

  // The page has become visible.
  virtual void setActive() { setLocalize(); }
  void setLocalize();

  // Page 1: the device manager found a recorder.
  void deviceAdded();
  // Pages 2, 3, 4, 6: the recorder has gone.
  void deviceRemoved();
  void sheetDidEnd(int returnCode) override;

  mac::Button* firstButton() { return first_; }
  mac::Button* secondButton() { return second_; }

 protected:
  void doCancel();
  virtual void doFinish();
  void doNext();
  void doStart();
  // The update on the recorder held, with its messages.
  void runUpdate();
  void post(const char* notification, int nextPage);
  // The notification this page posts when it is left.
  const char* closeNotification() const;

  FwUpAppController& app_;
  mac::Window& window_;
  MacPage page_;
  mac::View* view_ = nullptr;
  mac::ImageView* picture_ = nullptr;
  mac::TextField* modelField_ = nullptr;
  mac::TextField* explanationField_ = nullptr;
  mac::Button* first_ = nullptr;
  mac::Button* second_ = nullptr;
};

class FwUpWizard1Controller : public FwUpWizardController {
 public:
  FwUpWizard1Controller(FwUpAppController& app, mac::Window& window);
};
class FwUpWizard21Controller : public FwUpWizardController {
 public:
  FwUpWizard21Controller(FwUpAppController& app, mac::Window& window);
};
class FwUpWizard22Controller : public FwUpWizardController {
 public:
  FwUpWizard22Controller(FwUpAppController& app, mac::Window& window);
};
class FwUpWizard3Controller : public FwUpWizardController {
 public:
  FwUpWizard3Controller(FwUpAppController& app, mac::Window& window);
};
class FwUpWizard4Controller : public FwUpWizardController {
 public:
  FwUpWizard4Controller(FwUpAppController& app, mac::Window& window);
  void setActive() override;

 protected:
  void doFinish() override;
};
class FwUpWizard23Controller : public FwUpWizardController {
 public:
  FwUpWizard23Controller(FwUpAppController& app, mac::Window& window);
};

// A modal alert on `window` with glossary text `id`.
void RunModalAlert(mac::Window& window, uint32_t id);
void RunModalAlertText(mac::Window& window, const std::string& text);
