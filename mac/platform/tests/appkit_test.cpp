#include "mac/platform/appkit.h"

#include <gtest/gtest.h>

#include "mac/platform/platform.h"

namespace mac {
namespace {

class PlatformAppKit : public testing::Test {
 protected:
  Platform platform;
  Application& app = platform.application();
  Simulation& user = platform.simulation();
};

// A sheet with one button that ends it, as the programs' alert sheets are made.
struct Sheet {
  explicit Sheet(Application& app, std::string message) : window(app, "") {
    window.contentView().addSubview(window.make<TextField>(Rect{}, std::move(message)));
    Button& ok = window.make<Button>(Rect{}, "OK");
    window.contentView().addSubview(ok);
    ok.setAction([&app, this](Button&) {
      if (async) {
        app.endSheet(window, 7);
      } else {
        app.stopModalWithCode(5);
      }
    });
  }
  Window window;
  bool async = false;
};

TEST_F(PlatformAppKit, AModalSheetReturnsTheCodeTheUserChoseAndBlocksItsParent) {
  Window main(app, "Main");
  Button& start = main.make<Button>(Rect{}, "Start");
  main.contentView().addSubview(start);
  main.makeKeyAndOrderFront();
  Sheet sheet(app, "The device has been disconnected.");

  int code = 0;
  start.setAction([&](Button&) {
    app.beginSheet(sheet.window, main);
    EXPECT_FALSE(main.acceptsInput());
    code = app.runModalForWindow(sheet.window);
    app.endSheet(sheet.window);
    sheet.window.orderOut();
  });
  user.click("Start");
  user.click("OK");
  user.runMoves();
  EXPECT_EQ(code, 5);
  EXPECT_TRUE(main.acceptsInput());
  const std::string text = platform.transcript().text();
  EXPECT_NE(text.find("sheet (untitled) on \"Main\""), std::string::npos) << text;
  EXPECT_NE(text.find("| The device has been disconnected."), std::string::npos) << text;
}

TEST_F(PlatformAppKit, AnAsynchronousSheetCallsItsDidEndWithTheCodeAndOnlyOnce) {
  Window main(app, "Main");
  main.makeKeyAndOrderFront();
  Sheet sheet(app, "Removed");
  sheet.async = true;
  std::vector<int> ends;
  app.beginSheet(sheet.window, main, [&](Window& w, int code) {
    EXPECT_EQ(&w, &sheet.window);
    ends.push_back(code);
    w.orderOut();
  });
  EXPECT_THROW(app.beginSheet(sheet.window, main), std::logic_error) << "one sheet at a time";
  user.click("OK");
  user.runMoves();
  app.endSheet(sheet.window, 9);  // the device manager ends any sheet on every arrival
  EXPECT_EQ(ends, std::vector<int>{7});
  EXPECT_FALSE(sheet.window.isVisible());
}

TEST_F(PlatformAppKit, AlertPanelsAnswerWhichButtonWasChosen) {
  struct Case {
    std::string defaultButton, alternate, other;
    int answer;
    int expected;
    const char* shown;
  };
  const Case cases[] = {
      {"", "", "", 1, NSAlertDefaultReturn, "[OK]"},
      {"Yes", "No", "", 2, NSAlertAlternateReturn, "[No]"},
      {"Save", "Cancel", "Don't", 3, NSAlertOtherReturn, "[Don't]"},
      {"Yes", "", "Other", 2, NSAlertOtherReturn, "[Other]"},  // no alternate: the second button is the other
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    user.answerAlert(c.answer);
    const size_t mark = platform.transcript().lines().size();
    EXPECT_EQ(app.runCriticalAlertPanel("ERROR", "message", c.defaultButton, c.alternate, c.other), c.expected);
    const std::string seen = platform.transcript().textSince(mark);
    EXPECT_NE(seen.find("alert \"ERROR\" (critical) shown"), std::string::npos) << seen;
    EXPECT_NE(seen.find(std::string("alert answered ") + c.shown), std::string::npos) << seen;
    EXPECT_EQ(app.modalWindow(), nullptr);
  }
}

TEST_F(PlatformAppKit, AModalLoopNobodyWillEndFailsInsteadOfHanging) {
  user.setIdleLimit(Milliseconds(60000));
  EXPECT_THROW(app.runAlertPanel("Question", "Nobody answers"), SimulationError);
  EXPECT_GE(platform.clock().nowMs(), 60000u);
}

struct Delegate : ApplicationDelegate {
  TerminateReply reply = TerminateReply::Now;
  std::vector<std::string> calls;
  void applicationWillFinishLaunching() override { calls.push_back("will-launch"); }
  void applicationDidFinishLaunching() override { calls.push_back("did-launch"); }
  TerminateReply applicationShouldTerminate() override {
    calls.push_back("should");
    return reply;
  }
  void applicationWillTerminate() override { calls.push_back("will-terminate"); }
};

TEST_F(PlatformAppKit, TerminationFollowsTheDelegatesAnswer) {
  struct Case {
    TerminateReply reply;
    std::optional<bool> later;  // the answer given afterwards to Later
    bool terminated;
  };
  const Case cases[] = {
      {TerminateReply::Now, {}, true},
      {TerminateReply::Cancel, {}, false},
      {TerminateReply::Later, true, true},
      {TerminateReply::Later, false, false},
  };
  for (const Case& c : cases) {
    Platform mac;
    Delegate delegate;
    delegate.reply = c.reply;
    mac.application().setDelegate(&delegate);
    mac.application().finishLaunching();
    mac.application().terminate();
    if (c.later) {
      EXPECT_FALSE(mac.application().isTerminated());
      mac.application().replyToApplicationShouldTerminate(*c.later);
    }
    EXPECT_EQ(mac.application().isTerminated(), c.terminated);
    EXPECT_EQ(delegate.calls.back(), c.terminated ? "will-terminate" : "should");
  }
}

TEST_F(PlatformAppKit, TerminatingEndsTheLoopsTheProgramIsBlockedIn) {
  Delegate delegate;
  app.setDelegate(&delegate);
  Window panel(app, "Panel");
  int code = 0;
  user.quit();
  app.finishLaunching();
  code = app.runModalForWindow(panel);
  EXPECT_EQ(code, NSRunAbortedResponse);
  EXPECT_TRUE(app.isTerminated());
  app.run();  // returns at once
  EXPECT_EQ(delegate.calls, (std::vector<std::string>{"will-launch", "did-launch", "should", "will-terminate"}));
}

TEST_F(PlatformAppKit, TheCloseButtonAsksTheDelegateAndDoesNothingWhileDisabled) {
  struct Closing : WindowDelegate {
    bool allow = true;
    int closed = 0;
    bool windowShouldClose(Window&) override { return allow; }
    void windowWillClose(Window&) override { ++closed; }
  } closing;
  Window main(app, "Main");
  main.setDelegate(&closing);
  main.makeKeyAndOrderFront();
  main.standardWindowButton(WindowButton::Close).setEnabled(false);
  main.performClose();
  closing.allow = false;
  main.standardWindowButton(WindowButton::Close).setEnabled(true);
  main.performClose();
  EXPECT_EQ(closing.closed, 0);
  EXPECT_TRUE(main.isVisible());
  closing.allow = true;
  main.performClose();
  EXPECT_EQ(closing.closed, 1);
  EXPECT_FALSE(main.isVisible());
}

TEST_F(PlatformAppKit, MenuItemsAreEnabledByTheirValidatorWhenChosen) {
  bool locked = true;
  int quits = 0;
  Menu& file = app.mainMenu().addItem("Firmware update program", 1).setSubmenu(std::make_unique<Menu>());
  file.addItem("About", 101);
  file.addSeparator();
  MenuItem& quit = file.addItem("Quit", 105);
  quit.setAction([&](MenuItem&) { ++quits; });
  quit.setValidator([&](MenuItem& item) { return item.tag() != 105 || !locked; });
  EXPECT_EQ(app.mainMenu().itemWithTag(1)->submenu()->itemWithTag(105), &quit);
  EXPECT_FALSE(quit.choose());
  locked = false;
  EXPECT_TRUE(quit.choose());
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(app.mainMenu().findItem("Quit"), &quit);
}

TEST_F(PlatformAppKit, BoxesSwapTheirContentAndKeepEveryPageWithTheWindow) {
  Window main(app, "Main");
  Box& box = main.make<Box>(Rect{});
  main.contentView().addSubview(box);
  View& page1 = main.make<View>(Rect{});
  page1.addSubview(main.make<TextField>(Rect{}, std::string("Connect the recorder")));
  View& page2 = main.make<View>(Rect{});
  Button& next = main.make<Button>(Rect{}, "Next");
  page2.addSubview(next);
  main.makeKeyAndOrderFront();
  box.setContentView(&page1);
  box.setContentView(&page2);
  EXPECT_TRUE(next.isShown());
  box.setContentView(&page1);
  EXPECT_FALSE(next.isShown());
  EXPECT_EQ(page2.superview(), nullptr);
  EXPECT_EQ(main.describe(), std::vector<std::string>{"| Connect the recorder"});
  Window other(app, "Other");
  EXPECT_THROW(box.setContentView(&other.contentView()), std::logic_error);
}

TEST(PlatformCurrent, OneIsInstalledAtATimeForItsLifetime) {
  EXPECT_FALSE(Platform::hasCurrent());
  EXPECT_THROW(Platform::current(), std::logic_error);
  Platform first;
  {
    Platform::Installation installed(first);
    EXPECT_EQ(&Platform::current(), &first);
    Platform second;
    EXPECT_THROW(Platform::Installation{second}, std::logic_error);
    EXPECT_EQ(&Platform::current(), &first);
  }
  EXPECT_FALSE(Platform::hasCurrent());
}

TEST_F(PlatformAppKit, TheTextCellMeasuresWrappedLines) {
  Window w(app, "");
  struct Case {
    const char* text;
    double width;
    double height;
  };
  const Case cases[] = {
      {"", 140, 17},
      {"one line", 140, 17},
      {"twenty characters ab twenty characters cd", 140, 34},  // 20 characters fill a line of 140 points
      {"first\nsecond\n\nfourth", 140, 68},
      {"abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstu", 140, 51},  // a long word is broken
      {"ファームウェアを更新します", 70, 51},  // characters, not bytes; 13 points each, 5 to a line
      {"機種：ZT-5100", 70, 34},                 // 13 + 13 + 13 + 7 * 4 fill the first line
      {"ファームウェア", 91, 17},                 // a line exactly full
      {"ファームウェア", 90, 34},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TextField& field = w.make<TextField>(Rect{}, std::string(c.text));
    EXPECT_EQ(field.cellSizeForBounds(Rect{{0, 0}, {c.width, 1000}}).height, c.height);
  }
}

}  // namespace
}  // namespace mac
