#pragma once
// Dialogs, property pages and the wizard sheet: thin classes over the system's dialog manager and
// property sheet control. One static procedure per window kind finds the C++ object and turns
// messages into virtual handlers; no exception ever crosses back into the system from there.

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

namespace win {

// The text bindings of a dialog: controls filled from strings (UpdateData(FALSE)) or read back into
// them (UpdateData(TRUE)).
class DataExchange {
 public:
  DataExchange(HWND dialog, bool save) : dialog_(dialog), save_(save) {}
  bool saving() const { return save_; }
  void Text(int controlId, std::string& text);
  // The same through the wide calls, for the texts of a Unicode program, which no code page can carry.
  void Text(int controlId, std::wstring& text);

 private:
  HWND dialog_;
  bool save_;
};

class CDialog {
 public:
  // The template is looked up in `module`, the executable when null.
  explicit CDialog(UINT templateId, HWND parent = nullptr, HMODULE module = nullptr);
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog modally; the value given to EndDialog, or -1 when it could not be created.
  INT_PTR DoModal();
  void EndDialog(INT_PTR result);

  HWND hwnd() const { return hwnd_; }
  HWND GetDlgItem(int controlId) const { return ::GetDlgItem(hwnd_, controlId); }
  UINT templateId() const { return templateId_; }
  HMODULE module() const { return module_; }

  // Moves the bound texts into the controls (FALSE) or the controls' texts into the bindings (TRUE).
  void UpdateData(BOOL saveAndValidate);

 protected:
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(DataExchange&) {}
  virtual void OnPaint(HDC) {}
  // Messages without a handler of their own. Set `handled` and return the result to keep the dialog
  // manager's default handling away.
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  // The dialog manager's OK and Cancel commands; both end a modal dialog by default.
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  // Shared by dialogs and pages: the messages every kind handles the same way, and the answer to the
  // dialog manager.
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  INT_PTR Route(UINT message, WPARAM wParam, LPARAM lParam);
  void Attach(HWND hwnd) { hwnd_ = hwnd; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  UINT templateId_;
  HWND parent_;
  HMODULE module_;
  HWND hwnd_ = nullptr;
};

class CPropertySheet;

class CPropertyPage : public CDialog {
 public:
  explicit CPropertyPage(UINT templateId, HMODULE module = nullptr);

  CPropertySheet* sheet() const { return sheet_; }
  // A wizard shows the active page's title in its caption bar; set before the sheet is shown.
  void SetTitle(std::string title) { title_ = std::move(title); }
  void SetTitle(std::wstring title) { wideTitle_ = std::move(title); }

 protected:
  friend class CPropertySheet;
  // TRUE lets the page become active.
  virtual BOOL OnSetActive() { return TRUE; }
  // 0 goes on to the next page, -1 stays; any other value is the template id of the page to show,
  // and a value that names no page of the sheet stays as well (the page has already switched).
  virtual LRESULT OnWizardNext() { return 0; }
  // The user cancelled (Cancel button, Close item, or WM_CLOSE) while this page was active.
  void OnCancel() override {}

 private:
  static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnNotify(const NMHDR& header);

  CPropertySheet* sheet_ = nullptr;
  std::string title_;
  std::wstring wideTitle_;
};

// A property sheet; in wizard mode it shows one page at a time with Back, Next and Cancel.
// Constructed with a wide caption, the sheet and its pages are Unicode windows (their controls take
// UTF-16 texts through the W calls); with a narrow one they are ANSI windows.
class CPropertySheet {
 public:
  CPropertySheet(const char* caption, HWND parent, UINT startPage);
  CPropertySheet(const wchar_t* caption, HWND parent, UINT startPage);
  virtual ~CPropertySheet();
  CPropertySheet(const CPropertySheet&) = delete;
  CPropertySheet& operator=(const CPropertySheet&) = delete;

  // Pages are owned by the caller and must outlive the sheet's window.
  void AddPage(CPropertyPage* page);
  void SetWizardMode() { wizard_ = true; }
  // Runs the sheet modally; the property sheet's result, -1 when it could not be created.
  INT_PTR DoModal();

  HWND hwnd() const { return hwnd_; }
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* GetPage(int index) const { return pages_.at(static_cast<size_t>(index)); }
  int GetActiveIndex() const;
  // Before the window exists, chooses the page the sheet starts on.
  BOOL SetActivePage(int index);
  void SetWizardButtons(DWORD flags);
  HWND GetDlgItem(int controlId) const { return ::GetDlgItem(hwnd_, controlId); }

  // Standard control ids of a wizard sheet.
  static constexpr int kBackButton = 0x3023;
  static constexpr int kNextButton = 0x3024;
  static constexpr int kCancelButton = IDCANCEL;

 protected:
  // Called once the sheet window and its first page exist.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Every message of the sheet window; the default hands it to the property sheet control.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  friend class CPropertyPage;
  static int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM lParam);
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  int IndexOfTemplate(UINT templateId) const;

  template <class PageDescription, class Header, class Char>
  INT_PTR Run(const std::basic_string<Char>& caption, std::basic_string<Char> CPropertyPage::*title,
              INT_PTR(WINAPI* show)(const Header*));
  void Subclass(HWND hwnd);

  bool unicode_ = false;
  std::string caption_;
  std::wstring wideCaption_;
  HWND parent_;
  UINT startPage_;
  bool wizard_ = false;
  std::vector<CPropertyPage*> pages_;
  HWND hwnd_ = nullptr;
  WNDPROC original_ = nullptr;
  // Whether the window procedure in place before ours takes wide messages.
  bool wideProc_ = false;
};

// The application's name: the executable's file name without its extension. Message boxes carry it
// as their caption, which is how the program recognises its own boxes among the system's windows.
std::string AppName();
int MessageBoxText(HWND owner, const std::string& text, UINT flags);
// The same box for a Unicode program: its caption is the executable's name as the file system has it.
int MessageBoxText(HWND owner, const std::wstring& text, UINT flags);
std::wstring WideAppName();
// An open message box of this program (a dialog-class window captioned with the application's name).
HWND FindOwnMessageBox();

}  // namespace win
