#include "win/wrapper/wwizard_pages.h"

#include "common/text_format.h"
#include "win/wrapper/resource.h"
#include "win/wrapper/wfwup_sheet.h"
#include "win/wrapper/wrapper_rules.h"

namespace {

constexpr int kPictureTop = 16;
constexpr UINT kPage1Picture = 147;
constexpr UINT kPage2Picture = 146;

// A control's rectangle in the client coordinates of `window`.
RECT RectIn(HWND window, HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace

CWWizardPage::CWWizardPage(CWFwUpBaseSheet& sheet, UINT templateId, UINT pictureId)
    : CPropertyPage(templateId), Sheet(sheet), PictureId(pictureId) {}

BOOL CWWizardPage::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  FirstActivation = true;
  if (PictureId != 0) Picture.Load(hwnd(), "BIN", PictureId);
  return TRUE;
}

void CWWizardPage::DoDataExchange(win::DataExchange& exchange) {
  exchange.Text(IDC_WIZARD_TEXT1, Text1);
  if (HasSecondText) exchange.Text(IDC_WIZARD_TEXT2, Text2);
}

void CWWizardPage::OnPaint(HDC dc) {
  RECT client{};
  GetClientRect(hwnd(), &client);
  Picture.Render(dc, Offset, kPictureTop, &client);
}

int CWWizardPage::ComputeOffset() const {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(hwnd(), &placement);
  return ColumnOffset(placement.rcNormalPosition.right - placement.rcNormalPosition.left);
}

int CWWizardPage::TextLeft(int controlId) const {
  const HWND control = GetDlgItem(controlId);
  return control ? RectIn(hwnd(), control).left : 0;
}

void CWWizardPage::PlaceText(int controlId, int left) {
  const HWND control = GetDlgItem(controlId);
  if (!control) return;
  const RECT rect = RectIn(hwnd(), control);
  MoveWindow(control, left, rect.top, kColumnWidth, rect.bottom - rect.top, TRUE);
}

void CWWizardPage::MoveOntoCancel(HWND button, HWND cancel) const {
  const RECT rect = RectIn(Sheet.hwnd(), cancel);
  MoveWindow(button, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

// ---- page 1 ----

CWWizard1Opening::CWWizard1Opening(CWFwUpBaseSheet& sheet)
    : CWWizardPage(sheet, IDD_WIZARD1_OPENING, kPage1Picture) {}

BOOL CWWizard1Opening::OnSetActive() {
  Offset = ComputeOffset();
  // Every activation, but a text that has been moved once stays where it is.
  for (int id : {IDC_WIZARD_TEXT1, IDC_WIZARD_TEXT2}) {
    if (TextLeft(id) == 0) PlaceText(id, Offset);
  }
  const HWND next = Sheet.GetDlgItem(win::CPropertySheet::kNextButton);
  const HWND cancel = Sheet.GetDlgItem(win::CPropertySheet::kCancelButton);
  SetWindowTextW(next, Sheet.Text(wrapper_text::kNext).c_str());
  SetWindowTextW(cancel, Sheet.Text(wrapper_text::kCancel).c_str());
  // Posted, so that it comes after the sheet has put the focus on the page: an Enter pressed by
  // habit must not start an update.
  PostMessageW(Sheet.hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancel), 1);
  Text1 = FormatText(std::wstring_view(Sheet.Text(wrapper_text::kOpening)), {std::wstring_view(Sheet.ModelName())});
  Text2 = FormatText(std::wstring_view(Sheet.Text(wrapper_text::kConnect)));
  UpdateData(FALSE);
  return CPropertyPage::OnSetActive();
}

LRESULT CWWizard1Opening::OnWizardNext() {
  Sheet.SetStageNo(1);
  Sheet.RunStage();
  Sheet.EnableCloseItem(false);
  Sheet.SetCloseAllowed(false);
  // On to page 2, behind the hidden sheet.
  return 0;
}

// ---- page 2 ----

CWWizard2SecondUpdate::CWWizard2SecondUpdate(CWFwUpBaseSheet& sheet)
    : CWWizardPage(sheet, IDD_WIZARD2_SECOND_UPDATE, kPage2Picture) {}

BOOL CWWizard2SecondUpdate::OnSetActive() {
  const HWND next = Sheet.GetDlgItem(win::CPropertySheet::kNextButton);
  const HWND cancel = Sheet.GetDlgItem(win::CPropertySheet::kCancelButton);
  if (FirstActivation) {
    FirstActivation = false;
    Offset = ComputeOffset();
    for (int id : {IDC_WIZARD_TEXT1, IDC_WIZARD_TEXT2}) PlaceText(id, TextLeft(id) + Offset);
    if (!cancel || !next) return FALSE;
    // Next alone, where the user last saw Cancel.
    MoveOntoCancel(next, cancel);
  }
  SetWindowTextW(next, Sheet.Text(wrapper_text::kNext).c_str());
  SetWindowTextW(cancel, Sheet.Text(wrapper_text::kCancel).c_str());
  ShowWindow(cancel, SW_HIDE);
  Text1 = FormatText(std::wstring_view(Sheet.Text(wrapper_text::kFirstStageDone)));
  Text2 = FormatText(std::wstring_view(Sheet.Text(wrapper_text::kConnectAgain)));
  UpdateData(FALSE);
  return CPropertyPage::OnSetActive();
}

LRESULT CWWizard2SecondUpdate::OnWizardNext() {
  // A second Next typed ahead on page 1 reaches this page behind the hidden sheet while stage 1 still
  // runs; it was answered there, and one stage runs at a time.
  if (Sheet.IsStageRunning()) return -1;
  Sheet.SetStageNo(2);
  Sheet.RunStage();
  return 0;
}

// ---- page 3 ----

CWWizard3NotUpdate::CWWizard3NotUpdate(CWFwUpBaseSheet& sheet)
    : CWWizardPage(sheet, IDD_WIZARD3_NOT_UPDATE, 0) {
  HasSecondText = false;
}

BOOL CWWizard3NotUpdate::OnSetActive() {
  const HWND next = Sheet.GetDlgItem(win::CPropertySheet::kNextButton);
  const HWND cancel = Sheet.GetDlgItem(win::CPropertySheet::kCancelButton);
  const HWND finish = Sheet.GetDlgItem(CWFwUpBaseSheet::kFinishButton);
  if (FirstActivation) {
    FirstActivation = false;
    Offset = ComputeOffset();
    PlaceText(IDC_WIZARD_TEXT1, TextLeft(IDC_WIZARD_TEXT1) + Offset);
    if (!cancel || !finish) return FALSE;
    MoveOntoCancel(finish, cancel);
  }
  SetWindowTextW(finish, Sheet.Text(wrapper_text::kFinish).c_str());
  ShowWindow(finish, SW_SHOW);
  ShowWindow(next, SW_HIDE);
  ShowWindow(cancel, SW_HIDE);
  Text1 = FormatText(std::wstring_view(Sheet.Text(wrapper_text::kUpdateFailed)));
  UpdateData(FALSE);
  return CPropertyPage::OnSetActive();
}
