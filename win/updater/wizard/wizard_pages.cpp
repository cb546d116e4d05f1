#include "win/updater/wizard/wizard_pages.h"

#include "win/updater/wizard/fwup_sheet.h"

namespace {

// The pictures are about 400 pixels wide; the texts line up with them.
constexpr int kPictureWidth = 400;
constexpr int kPictureTop = 16;

int NormalWidth(HWND window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  return placement.rcNormalPosition.right - placement.rcNormalPosition.left;
}

// The control's rectangle in its dialog's client coordinates.
RECT ControlRect(HWND dialog, HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void PlaceBeside(HWND dialog, int controlId, int left) {
  const HWND control = GetDlgItem(dialog, controlId);
  if (!control) return;
  const RECT rect = ControlRect(dialog, control);
  MoveWindow(control, left, rect.top, kPictureWidth, rect.bottom - rect.top, TRUE);
}

}  // namespace

CWizardPage::CWizardPage(CFwUpBaseSheet& sheet, WizardPage page, UINT templateId, UINT pictureId)
    : CPropertyPage(templateId), Sheet(sheet), page_(page), pictureId_(pictureId) {}

BOOL CWizardPage::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  firstActivation_ = true;
  picture_.Load(hwnd(), "BIN", pictureId_);
  return TRUE;
}

void CWizardPage::OnPaint(HDC dc) { picture_.Render(dc, pictureOffset_, kPictureTop, nullptr); }

void CWizardPage::DoDataExchange(win::DataExchange& exchange) {
  if (page_ != kPageOpening) exchange.Text(IDC_MODEL_TEXT, modelText_);
  exchange.Text(IDC_COMMENT_TEXT, commentText_);
}

void CWizardPage::Layout() {
  if (page_ == kPageOpening) {
    pictureOffset_ = (NormalWidth(hwnd()) - kPictureWidth) / 2;
    const HWND comment = GetDlgItem(IDC_COMMENT_TEXT);
    if (comment && ControlRect(hwnd(), comment).left == 0) PlaceBeside(hwnd(), IDC_COMMENT_TEXT, pictureOffset_);
    return;
  }
  if (!firstActivation_) return;
  firstActivation_ = false;
  pictureOffset_ = (NormalWidth(hwnd()) - kPictureWidth) / 2;
  const HWND model = GetDlgItem(IDC_MODEL_TEXT);
  if (model) PlaceBeside(hwnd(), IDC_MODEL_TEXT, ControlRect(hwnd(), model).left + pictureOffset_);
  const HWND comment = GetDlgItem(IDC_COMMENT_TEXT);
  if (comment) PlaceBeside(hwnd(), IDC_COMMENT_TEXT, ControlRect(hwnd(), comment).left + pictureOffset_);
}

PageView CWizardPage::Compose() const {
  return ComposePage(page_, [this](uint32_t id) { return Sheet.Text(id); }, Sheet.CurrentValues());
}

void CWizardPage::ShowView(const PageView& view, bool activating) {
  const HWND next = Sheet.GetDlgItem(win::CPropertySheet::kNextButton);
  const HWND cancel = Sheet.GetDlgItem(win::CPropertySheet::kCancelButton);
  // The buttons belong to the whole sheet: a page that is not shown must leave them to the one that is.
  const bool shown = activating || Sheet.GetActiveIndex() == static_cast<int>(page_);
  if (shown && (page_ != kPageOpening || activating)) {
    // The opening page sets the buttons when it becomes active, never on a refresh.
    if (view.next == NextButton::ShownNextOnly) Sheet.SetWizardButtons(PSWIZB_NEXT);
    if (view.next == NextButton::Hidden) {
      ShowWindow(next, SW_HIDE);
      EnableWindow(next, FALSE);
    } else {
      ShowWindow(next, SW_SHOW);
      EnableWindow(next, TRUE);
      SetWindowTextA(next, view.nextText.c_str());
      // A page reached from one without Next (the recorder plugged in on page 0) would leave the
      // focus on Cancel, and Enter would end the wizard instead of going on.
      if (activating) PostMessageA(Sheet.hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
    }
    SetWindowTextA(cancel, view.cancelText.c_str());
  }
  if (activating && view.chainedClose != ChainedClose::Unchanged) {
    const bool allowed = view.chainedClose == ChainedClose::Allowed;
    EnableWindow(cancel, allowed);
    Sheet.EnableCloseItem(allowed);
    Sheet.SetCloseAllowed(allowed);
  }
  modelText_ = view.modelLine.value_or(std::string());
  commentText_ = view.comment;
  UpdateData(FALSE);
}

BOOL CWizardPage::OnSetActive() {
  Layout();
  ShowView(Compose(), true);
  return CPropertyPage::OnSetActive();
}

void CWizardPage::RefreshTexts() {
  if (!hwnd()) return;
  ShowView(Compose(), false);
}

LRESULT CWizard21Version::OnWizardNext() {
  const PageValues values = Sheet.CurrentValues();
  if (values.record && values.record->IsFactory) {
    Sheet.StartUpdate();
  } else {
    Sheet.SetActivePage(kPageUpdateStart);
  }
  // Not a page's template: the sheet stays where this page has put it.
  return 1;
}

LRESULT CWizard3UpdateStart::OnWizardNext() {
  Sheet.StartUpdate();
  return 1;
}

// In a two-stage run, leaving these pages finishes the stage for the wrapper.
void CWizardPage::FinishChainedStage() {
  if (Sheet.ChainedStage() == 1 || Sheet.ChainedStage() == 2) Sheet.WriteCompletionMarker();
}

void CWizard22NotUpdate::OnCancel() { FinishChainedStage(); }
void CWizard4UpdateEnd::OnCancel() { FinishChainedStage(); }
