#pragma once
// The simulated user, and the runs of the simulation.
//
// The user's moves (click a button, answer an alert, unplug the recorder, wait) are queued and made
// in order by whichever run loop is running when the move becomes possible: the test's own
// runFor/runUntil, the application's loop, or a modal loop the program is blocked in. So a test
// queues the answer to a question before the program asks it, exactly as a script would. A move
// that cannot be made within its patience (10 s of simulated time by default: the button never
// appears or stays disabled) fails the run with SimulationError, naming what was on screen.
//
// A loop that only the user can end (a modal panel, the application's own loop) fails the same way
// when the user has nothing left to do and 10 minutes of simulated time pass, instead of hanging.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "mac/platform/appkit.h"
#include "mac/platform/clock.h"
#include "mac/platform/runloop.h"

namespace mac {

class UsbBus;
class Workspace;
class Authorization;

class SimulationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Simulation : public IdleHandler {
 public:
  Simulation(Clock& clock, RunLoop& runLoop, Application& application, Transcript& transcript, UsbBus& usb,
             Workspace& workspace, Authorization& authorization);

  // ---- The user's moves ----
  // A button titled `button` in a window that takes input (of that title, when given); waits while
  // it is missing or disabled.
  void click(std::string button, std::string window = {});
  // The n-th button of the alert panel in front: 1 the default, 2 the alternate, 3 the other.
  void answerAlert(int n);
  // The button of the window in front whose key equivalent is `key` ("\r" for Return).
  void pressKey(std::string key);
  // The window's close button (with no effect when the button is disabled).
  void closeWindow(std::string title);
  // A menu item of the main menu, by title (with no effect when it is disabled).
  void chooseMenuItem(std::string title);
  // A quit request from outside (Command-Q while the menu is not asked, or a quit event).
  void quit();
  void wait(Milliseconds duration);
  void plug();
  void unplug();
  // The next `count` ejections of the recorder's volume fail (negative: all of them, 0: none).
  void setVolumeBusy(int count);
  // The user's next answer to a password dialog: errAuthorizationSuccess, errAuthorizationDenied or
  // errAuthorizationCanceled.
  void answerPassword(int32_t status);
  void launchApplication(std::string name);
  void quitApplication(std::string name);
  void switchUser();
  // Checks, which wait (with patience) until they hold.
  void expectWindow(std::string title);
  void expectNoWindow(std::string title);
  void expectText(std::string text);
  void expectTerminated();
  // Writes what the front window shows now, with its sheet or alert (see window_picture.h), to
  // `file` on this machine, and puts the same into the transcript; waits until a window is shown.
  void capture(std::string file);
  // A move of the caller's own: `ready` answers the action to take once it can be taken.
  void then(std::string what, std::function<std::function<void()>()> ready);

  size_t pendingMoves() const { return moves_.size(); }
  void setPatience(Milliseconds patience) { patience_ = patience; }
  void setIdleLimit(Milliseconds limit) { idleLimit_ = limit; }
  // The line of a script that the moves queued from now on come from (0: none), for messages.
  void setSourceLine(int line) { line_ = line; }

  // ---- Runs, from the top (not from within the program's callbacks) ----
  void runFor(Milliseconds duration);
  // False when the limit passed first.
  bool runUntil(const std::function<bool()>& condition, Milliseconds limit);
  // Until every queued move has been made.
  void runMoves(Milliseconds limit = Milliseconds(600000));

  // IdleHandler.
  bool onIdle(RunLoopMode mode) override;
  std::optional<uint64_t> nextWake() const override;
  void stillWaiting(std::string_view what) override;

 private:
  struct Move {
    std::string what;
    std::function<std::function<void()>()> ready;
    uint64_t waitMs = 0;  // a pause: ready once this long has passed since the move came up
    int line = 0;
    std::optional<uint64_t> startedAt;
  };
  void add(std::string what, std::function<std::function<void()>()> ready, uint64_t waitMs = 0);
  Button* findButton(std::string_view title, std::string_view window) const;
  std::string onScreen() const;
  [[noreturn]] void fail(const Move& move, std::string_view why) const;

  Clock& clock_;
  RunLoop& runLoop_;
  Application& application_;
  Transcript& transcript_;
  UsbBus& usb_;
  Workspace& workspace_;
  Authorization& authorization_;
  std::deque<Move> moves_;
  Milliseconds patience_{10000};
  Milliseconds idleLimit_{600000};
  uint64_t lastMoveMs_ = 0;
  int line_ = 0;
};

}  // namespace mac
