#include "win/framework/dialog.h"

#include <cstddef>
#include <exception>

namespace win {

namespace {

// The sheet whose window is being created on this thread: the property sheet control calls back
// before anybody could have told the window which object it belongs to.
thread_local CPropertySheet* creatingSheet = nullptr;

constexpr char kSheetProperty[] = "zt.sheet";

HMODULE OrExecutable(HMODULE module) { return module ? module : GetModuleHandleA(nullptr); }

}  // namespace

void DataExchange::Text(int controlId, std::string& text) {
  const HWND control = ::GetDlgItem(dialog_, controlId);
  if (!control) return;
  if (!save_) {
    SetWindowTextA(control, text.c_str());
    return;
  }
  const int length = GetWindowTextLengthA(control);
  std::string value(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(control, value.data(), length + 1);
  value.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  text = std::move(value);
}

void DataExchange::Text(int controlId, std::wstring& text) {
  const HWND control = ::GetDlgItem(dialog_, controlId);
  if (!control) return;
  if (!save_) {
    SetWindowTextW(control, text.c_str());
    return;
  }
  const int length = GetWindowTextLengthW(control);
  std::wstring value(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(control, value.data(), length + 1);
  value.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  text = std::move(value);
}

// ---- CDialog ----

CDialog::CDialog(UINT templateId, HWND parent, HMODULE module)
    : templateId_(templateId), parent_(parent), module_(OrExecutable(module)) {}

INT_PTR CDialog::DoModal() {
  return DialogBoxParamA(module_, MAKEINTRESOURCEA(templateId_), parent_, DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) {
  if (hwnd_) ::EndDialog(hwnd_, result);
}

void CDialog::UpdateData(BOOL saveAndValidate) {
  if (!hwnd_) return;
  DataExchange exchange(hwnd_, saveAndValidate != FALSE);
  DoDataExchange(exchange);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

INT_PTR CDialog::OnMessage(UINT, WPARAM, LPARAM, bool&) { return 0; }

INT_PTR CDialog::Route(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = hwnd_;
  if (message == WM_NCDESTROY) {
    Attach(nullptr);
    SetWindowLongPtrA(window, DWLP_USER, 0);
    return FALSE;
  }
  bool handled = false;
  const INT_PTR result = Dispatch(message, wParam, lParam, handled);
  // A dialog procedure answers through DWLP_MSGRESULT; painting has no result to give.
  if (handled && message != WM_PAINT) SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return handled ? TRUE : FALSE;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(hwnd_, &paint);
      if (dc) {
        OnPaint(dc);
        EndPaint(hwnd_, &paint);
      }
      handled = true;
      return TRUE;
    }
    default:
      return OnMessage(message, wParam, lParam, handled);
  }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  try {
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<CDialog*>(lParam);
      SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
      self->Attach(hwnd);
      return self->OnInitDialog();
    }
    if (!self) return FALSE;
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
      if (LOWORD(wParam) == IDOK) {
        self->OnOK();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        self->OnCancel();
        return TRUE;
      }
    }
    return self->Route(message, wParam, lParam);
  } catch (...) {
    // A handler that failed leaves the message to the dialog manager's default handling.
    return FALSE;
  }
}

// ---- CPropertyPage ----

CPropertyPage::CPropertyPage(UINT templateId, HMODULE module) : CDialog(templateId, nullptr, module) {}

INT_PTR CPropertyPage::OnNotify(const NMHDR& header) {
  switch (header.code) {
    case PSN_SETACTIVE:
      return OnSetActive() ? 0 : -1;
    case PSN_KILLACTIVE:
      return FALSE;
    case PSN_WIZNEXT: {
      const LRESULT next = OnWizardNext();
      if (next == 0 || next == -1) return next;
      // A template id of one of the sheet's pages; anything else keeps the sheet where the page put it.
      return sheet_ && sheet_->IndexOfTemplate(static_cast<UINT>(next)) >= 0 ? next : -1;
    }
    case PSN_QUERYCANCEL:
      OnCancel();
      return FALSE;  // let the sheet close
    default:
      return 0;
  }
}

// One page procedure serves narrow and wide sheets: the page's object is found at the same place in
// both descriptions.
static_assert(offsetof(PROPSHEETPAGEA, lParam) == offsetof(PROPSHEETPAGEW, lParam));

INT_PTR CALLBACK CPropertyPage::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CPropertyPage*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  try {
    if (message == WM_INITDIALOG) {
      const auto* page = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
      self = reinterpret_cast<CPropertyPage*>(page->lParam);
      SetWindowLongPtrA(hwnd, DWLP_USER, page->lParam);
      self->Attach(hwnd);
      return self->OnInitDialog();
    }
    if (!self) return FALSE;
    if (message == WM_NOTIFY) {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header && header->hwndFrom == GetParent(hwnd)) {
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, self->OnNotify(*header));
        return TRUE;
      }
    }
    return self->Route(message, wParam, lParam);
  } catch (...) {
    return FALSE;
  }
}

// ---- CPropertySheet ----

CPropertySheet::CPropertySheet(const char* caption, HWND parent, UINT startPage)
    : caption_(caption ? caption : ""), parent_(parent), startPage_(startPage) {}

CPropertySheet::CPropertySheet(const wchar_t* caption, HWND parent, UINT startPage)
    : unicode_(true), wideCaption_(caption ? caption : L""), parent_(parent), startPage_(startPage) {}

namespace {
// A window procedure is set and called through the calls of its own width: going through the other
// width would turn the window into one of that width and every text would pass through a code page.
void SetWindowProc(HWND hwnd, WNDPROC proc, bool wide) {
  if (wide) {
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  } else {
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  }
}
}  // namespace

CPropertySheet::~CPropertySheet() {
  if (hwnd_ && original_) {
    SetWindowProc(hwnd_, original_, wideProc_);
    RemovePropA(hwnd_, kSheetProperty);
  }
}

void CPropertySheet::AddPage(CPropertyPage* page) {
  page->sheet_ = this;
  pages_.push_back(page);
}

INT_PTR CPropertySheet::DoModal() {
  CPropertySheet* const outer = creatingSheet;
  creatingSheet = this;
  const INT_PTR result =
      unicode_ ? Run<PROPSHEETPAGEW, PROPSHEETHEADERW>(wideCaption_, &CPropertyPage::wideTitle_, PropertySheetW)
               : Run<PROPSHEETPAGEA, PROPSHEETHEADERA>(caption_, &CPropertyPage::title_, PropertySheetA);
  creatingSheet = outer;
  hwnd_ = nullptr;
  original_ = nullptr;
  return result;
}

// The system's property sheet in either width: the descriptions, the header and the call differ
// only in the width of their texts.
template <class PageDescription, class Header, class Char>
INT_PTR CPropertySheet::Run(const std::basic_string<Char>& caption, std::basic_string<Char> CPropertyPage::*title,
                            INT_PTR(WINAPI* show)(const Header*)) {
  std::vector<PageDescription> descriptions(pages_.size());
  for (size_t i = 0; i < pages_.size(); ++i) {
    PageDescription& d = descriptions[i];
    d.dwSize = sizeof d;
    d.dwFlags = PSP_DEFAULT;
    d.hInstance = pages_[i]->module();
    d.pszTemplate = reinterpret_cast<const Char*>(static_cast<ULONG_PTR>(pages_[i]->templateId()));
    d.pfnDlgProc = CPropertyPage::PageProc;
    d.lParam = reinterpret_cast<LPARAM>(pages_[i]);
    if (!(pages_[i]->*title).empty()) {
      d.dwFlags |= PSP_USETITLE;
      d.pszTitle = (pages_[i]->*title).c_str();
    }
  }

  Header header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_NOAPPLYNOW | (wizard_ ? PSH_WIZARD : 0);
  header.hwndParent = parent_;
  header.hInstance = GetModuleHandleW(nullptr);
  header.pszCaption = caption.c_str();
  header.nPages = static_cast<UINT>(descriptions.size());
  header.nStartPage = startPage_;
  header.ppsp = descriptions.data();
  header.pfnCallback = SheetCallback;
  return show(&header);
}

int CALLBACK CPropertySheet::SheetCallback(HWND hwnd, UINT message, LPARAM) {
  CPropertySheet* self = creatingSheet;
  if (message != PSCB_INITIALIZED || !self) return 0;
  try {
    self->Subclass(hwnd);
    self->OnInitDialog();
  } catch (...) {
    // The sheet goes on with whatever its initialisation reached.
  }
  return 0;
}

void CPropertySheet::Subclass(HWND hwnd) {
  hwnd_ = hwnd;
  SetPropA(hwnd, kSheetProperty, this);
  // The property sheet control made the window as wide as the call that created it.
  wideProc_ = IsWindowUnicode(hwnd) != FALSE;
  original_ = wideProc_ ? reinterpret_cast<WNDPROC>(
                              SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProc)))
                        : reinterpret_cast<WNDPROC>(
                              SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProc)));
}

LRESULT CALLBACK CPropertySheet::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<CPropertySheet*>(GetPropA(hwnd, kSheetProperty));
  if (!self) {
    return IsWindowUnicode(hwnd) ? DefWindowProcW(hwnd, message, wParam, lParam)
                                 : DefWindowProcA(hwnd, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    const WNDPROC original = self->original_;
    const bool wide = self->wideProc_;
    SetWindowProc(hwnd, original, wide);
    RemovePropA(hwnd, kSheetProperty);
    self->hwnd_ = nullptr;
    self->original_ = nullptr;
    return wide ? CallWindowProcW(original, hwnd, message, wParam, lParam)
                : CallWindowProcA(original, hwnd, message, wParam, lParam);
  }
  try {
    return self->WindowProc(message, wParam, lParam);
  } catch (...) {
    return self->Default(message, wParam, lParam);
  }
}

LRESULT CPropertySheet::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return Default(message, wParam, lParam);
}

LRESULT CPropertySheet::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  if (wideProc_) {
    if (!original_) return DefWindowProcW(hwnd_, message, wParam, lParam);
    return CallWindowProcW(original_, hwnd_, message, wParam, lParam);
  }
  if (!original_) return DefWindowProcA(hwnd_, message, wParam, lParam);
  return CallWindowProcA(original_, hwnd_, message, wParam, lParam);
}

int CPropertySheet::GetActiveIndex() const {
  if (!hwnd_) return -1;
  const HWND page = reinterpret_cast<HWND>(SendMessageA(hwnd_, PSM_GETCURRENTPAGEHWND, 0, 0));
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i]->hwnd() && pages_[i]->hwnd() == page) return static_cast<int>(i);
  }
  return -1;
}

BOOL CPropertySheet::SetActivePage(int index) {
  if (index < 0 || index >= GetPageCount()) return FALSE;
  if (!hwnd_) {
    // Before the window exists the choice is where the sheet will start.
    startPage_ = static_cast<UINT>(index);
    return TRUE;
  }
  return static_cast<BOOL>(SendMessageA(hwnd_, PSM_SETCURSEL, static_cast<WPARAM>(index), 0));
}

void CPropertySheet::SetWizardButtons(DWORD flags) {
  if (hwnd_) PostMessageA(hwnd_, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
}

int CPropertySheet::IndexOfTemplate(UINT templateId) const {
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i]->templateId() == templateId) return static_cast<int>(i);
  }
  return -1;
}

// ---- message boxes ----

std::string AppName() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length);
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

int MessageBoxText(HWND owner, const std::string& text, UINT flags) {
  return MessageBoxA(owner, text.c_str(), AppName().c_str(), flags);
}

std::wstring WideAppName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, length);
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

int MessageBoxText(HWND owner, const std::wstring& text, UINT flags) {
  return MessageBoxW(owner, text.c_str(), WideAppName().c_str(), flags);
}

HWND FindOwnMessageBox() { return FindWindowA("#32770", AppName().c_str()); }

}  // namespace win
