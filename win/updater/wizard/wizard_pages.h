#pragma once
// The six pages of the wizard. Each is a picture, a model line and a comment, plus the texts and
// states of the sheet's Next and Cancel buttons while it is active; what they say is decided by
// ComposePage, the pages only put it on the screen.

#include "common/wizard_rules.h"
#include "win/framework/dialog.h"
#include "win/shared/jpeg_data.h"

class CFwUpBaseSheet;

inline constexpr int IDC_MODEL_TEXT = 1001;
inline constexpr int IDC_COMMENT_TEXT = 1002;

class CWizardPage : public win::CPropertyPage {
 public:
  CWizardPage(CFwUpBaseSheet& sheet, WizardPage page, UINT templateId, UINT pictureId);

  // Recomputes the texts for the sheet's current recorder, without the layout and without the
  // chained-run locks; the sheet's buttons too when this page is the one shown. Nothing happens while
  // the page has no window.
  void RefreshTexts();

 protected:
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  void DoDataExchange(win::DataExchange& exchange) override;
  void OnPaint(HDC dc) override;
  // Writes the completion marker when the updater runs as a stage of the two-stage wrapper.
  void FinishChainedStage();

  CFwUpBaseSheet& Sheet;

 private:
  void Layout();
  PageView Compose() const;
  void ShowView(const PageView& view, bool activating);

  WizardPage page_;
  UINT pictureId_;
  CJpegData picture_;
  bool firstActivation_ = false;
  int pictureOffset_ = 0;
  std::string modelText_;
  std::string commentText_;
};

class CWizard1Opening : public CWizardPage {
 public:
  explicit CWizard1Opening(CFwUpBaseSheet& sheet) : CWizardPage(sheet, kPageOpening, 101, 161) {}
};

class CWizard21Version : public CWizardPage {
 public:
  explicit CWizard21Version(CFwUpBaseSheet& sheet) : CWizardPage(sheet, kPageVersion, 102, 159) {}

 protected:
  LRESULT OnWizardNext() override;
};

class CWizard22NotUpdate : public CWizardPage {
 public:
  explicit CWizard22NotUpdate(CFwUpBaseSheet& sheet) : CWizardPage(sheet, kPageNotUpdate, 103, 159) {}

 protected:
  void OnCancel() override;
};

class CWizard23NotUpdate : public CWizardPage {
 public:
  explicit CWizard23NotUpdate(CFwUpBaseSheet& sheet) : CWizardPage(sheet, kPageStorageMismatch, 107, 159) {}
};

class CWizard3UpdateStart : public CWizardPage {
 public:
  explicit CWizard3UpdateStart(CFwUpBaseSheet& sheet) : CWizardPage(sheet, kPageUpdateStart, 104, 159) {}

 protected:
  LRESULT OnWizardNext() override;
};

class CWizard4UpdateEnd : public CWizardPage {
 public:
  explicit CWizard4UpdateEnd(CFwUpBaseSheet& sheet) : CWizardPage(sheet, kPageUpdateEnd, 105, 160) {}

 protected:
  void OnCancel() override;
};
