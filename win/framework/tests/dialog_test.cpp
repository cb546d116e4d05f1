#include "win/framework/dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr UINT kPoke = WM_APP + 1;

// A dialog whose handler fails once before it ends the dialog: the failure must stay inside.
class FailingDialog : public win::CDialog {
 public:
  FailingDialog() : CDialog(900) {}
  std::string text = "typed";
  int pokes = 0;

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    PostMessageA(hwnd(), kPoke, 0, 0);
    PostMessageA(hwnd(), kPoke, 0, 0);
    return TRUE;
  }
  void DoDataExchange(win::DataExchange& exchange) override { exchange.Text(100, text); }
  INT_PTR OnMessage(UINT message, WPARAM, LPARAM, bool& handled) override {
    if (message != kPoke) return 0;
    handled = true;
    if (++pokes == 1) throw std::runtime_error("a handler that fails");
    SetDlgItemTextA(hwnd(), 100, "edited");
    UpdateData(TRUE);
    EndDialog(7);
    return TRUE;
  }
};

TEST(CDialog, AFailingHandlerDoesNotEndTheDialogAndBindingsGoBothWays) {
  FailingDialog dialog;
  EXPECT_EQ(dialog.DoModal(), 7);
  EXPECT_EQ(dialog.pokes, 2);
  EXPECT_EQ(dialog.text, "edited");
  EXPECT_EQ(dialog.hwnd(), nullptr) << "the object lets go of its window when it is destroyed";
}

class Sheet;

// Records what happens to it; the test decides what Next does.
class Page : public win::CPropertyPage {
 public:
  Page(UINT id, std::vector<std::string>& log) : CPropertyPage(id), log_(log) {}
  std::function<LRESULT()> next;

 protected:
  BOOL OnSetActive() override {
    log_.push_back("active " + std::to_string(templateId()));
    return TRUE;
  }
  LRESULT OnWizardNext() override { return next ? next() : 0; }
  void OnCancel() override { log_.push_back("cancel " + std::to_string(templateId())); }

 private:
  std::vector<std::string>& log_;
};

// Runs the test's steps one by one from a timer, so they happen inside the sheet's own loop.
class Sheet : public win::CPropertySheet {
 public:
  Sheet() : CPropertySheet("sheet", nullptr, 0) {}
  std::vector<std::function<void()>> steps;
  std::vector<std::string> log;

 protected:
  BOOL OnInitDialog() override {
    SetTimer(hwnd(), 1, 50, nullptr);
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_TIMER && wParam == 1) {
      if (next_ < steps.size()) {
        steps[next_++]();
      } else {
        KillTimer(hwnd(), 1);
      }
      return 0;
    }
    return CPropertySheet::WindowProc(message, wParam, lParam);
  }

 private:
  size_t next_ = 0;
};

TEST(CPropertySheet, PagesDecideWhereNextGoesAndOnlyTheActivePageHearsCancel) {
  Sheet sheet;
  Page first(901, sheet.log), second(902, sheet.log), third(903, sheet.log);
  for (Page* page : {&first, &second, &third}) sheet.AddPage(page);
  sheet.SetWizardMode();
  // Chosen before the window exists: where the sheet starts.
  sheet.SetActivePage(1);

  // A page that switched by itself and answers with no page's id keeps the sheet where it put it.
  second.next = [&] {
    sheet.SetActivePage(0);
    return LRESULT{1};
  };
  // A page may name the next page by its template.
  first.next = [] { return LRESULT{903}; };
  sheet.steps = {
      [&] { EXPECT_EQ(sheet.GetActiveIndex(), 1); },
      [&] { PropSheet_PressButton(sheet.hwnd(), PSBTN_NEXT); },
      [&] { EXPECT_EQ(sheet.GetActiveIndex(), 0); },
      [&] { PropSheet_PressButton(sheet.hwnd(), PSBTN_NEXT); },
      [&] { EXPECT_EQ(sheet.GetActiveIndex(), 2); },
      [&] { PostMessageA(sheet.hwnd(), WM_CLOSE, 0, 0); },
  };
  sheet.DoModal();

  const std::vector<std::string> expected = {"active 902", "active 901", "active 903", "cancel 903"};
  EXPECT_EQ(sheet.log, expected);
  EXPECT_EQ(sheet.hwnd(), nullptr);
}

// A page of a Unicode sheet whose text no ANSI code page holds.
class WidePage : public win::CPropertyPage {
 public:
  WidePage() : CPropertyPage(901) {}
  std::wstring text = L"\u03a9\u03bc\u03ad\u03b3\u03b1 \u65e5\u672c\u8a9e";

 protected:
  BOOL OnInitDialog() override {
    CPropertyPage::OnInitDialog();
    return TRUE;
  }
  void DoDataExchange(win::DataExchange& exchange) override { exchange.Text(101, text); }
};

class WideSheet : public win::CPropertySheet {
 public:
  WideSheet() : CPropertySheet(L"\u30a6\u30a3\u30b6\u30fc\u30c9", nullptr, 0) {}
  std::vector<std::function<void()>> steps;

 protected:
  BOOL OnInitDialog() override {
    SetTimer(hwnd(), 1, 50, nullptr);
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_TIMER && wParam == 1) {
      if (next_ < steps.size()) {
        steps[next_++]();
      } else {
        KillTimer(hwnd(), 1);
      }
      return 0;
    }
    return CPropertySheet::WindowProc(message, wParam, lParam);
  }

 private:
  size_t next_ = 0;
};

std::wstring WideText(HWND window) {
  wchar_t text[128] = {};
  GetWindowTextW(window, text, 128);
  return text;
}

// Whatever the ANSI code page, the texts of a wide sheet reach its windows and come back unchanged,
// through our own window procedure as well.
TEST(CPropertySheet, WideSheetKeepsTextsNoCodePageHolds) {
  WideSheet sheet;
  WidePage page;
  page.SetTitle(std::wstring(L"\u03a3\u03b5\u03bb\u03af\u03b4\u03b1"));
  sheet.AddPage(&page);
  sheet.SetWizardMode();
  const std::wstring caption = L"\u041c\u0430\u0441\u0442\u0435\u0440";
  const std::wstring typed = L"\uc548\ub155";
  sheet.steps = {
      [&] {
        EXPECT_TRUE(IsWindowUnicode(sheet.hwnd()));
        EXPECT_EQ(WideText(sheet.hwnd()), L"\u03a3\u03b5\u03bb\u03af\u03b4\u03b1") << "the page's title";
        EXPECT_EQ(WideText(GetDlgItem(page.hwnd(), 101)), page.text);
        SetWindowTextW(sheet.hwnd(), caption.c_str());
        SetWindowTextW(GetDlgItem(page.hwnd(), 101), typed.c_str());
        page.UpdateData(TRUE);
      },
      [&] {
        EXPECT_EQ(WideText(sheet.hwnd()), caption);
        EXPECT_EQ(page.text, typed);
        PostMessageW(sheet.hwnd(), WM_CLOSE, 0, 0);
      },
  };
  sheet.DoModal();
  EXPECT_EQ(sheet.hwnd(), nullptr);
}

}  // namespace
