#include "mac/platform/simulation.h"

#include <fstream>

#include "mac/platform/processes.h"
#include "mac/platform/usb.h"
#include "mac/platform/window_picture.h"
#include "mac/platform/workspace.h"

namespace mac {

namespace {

// Depth first, in the order a user reads the window.
Button* FindIn(View& view, std::string_view title) {
  if (view.isHidden()) return nullptr;
  if (auto* button = dynamic_cast<Button*>(&view); button && button->title() == title) return button;
  for (View* child : view.subviews()) {
    if (Button* found = FindIn(*child, title)) return found;
  }
  return nullptr;
}

void Buttons(View& view, std::vector<Button*>& out) {
  if (view.isHidden()) return;
  if (auto* button = dynamic_cast<Button*>(&view)) out.push_back(button);
  for (View* child : view.subviews()) Buttons(*child, out);
}

std::string Seconds(uint64_t ms) {
  return std::to_string(ms / 1000) + (ms % 1000 ? "." + std::to_string(ms % 1000 + 1000).substr(1) : "") + " s";
}

}  // namespace

Simulation::Simulation(Clock& clock, RunLoop& runLoop, Application& application, Transcript& transcript, UsbBus& usb,
                       Workspace& workspace, Authorization& authorization)
    : clock_(clock),
      runLoop_(runLoop),
      application_(application),
      transcript_(transcript),
      usb_(usb),
      workspace_(workspace),
      authorization_(authorization) {}

void Simulation::add(std::string what, std::function<std::function<void()>()> ready, uint64_t waitMs) {
  moves_.push_back(Move{std::move(what), std::move(ready), waitMs, line_, std::nullopt});
}

Button* Simulation::findButton(std::string_view title, std::string_view window) const {
  Button* best = nullptr;
  for (Window* w : application_.windows()) {
    if (!w->acceptsInput() || (!window.empty() && w->title() != window)) continue;
    Button* found = FindIn(w->contentView(), title);
    if (!found || !found->isEnabled()) continue;
    // Of two windows with such a button, the one in front.
    if (!best || w->shownOrder() > best->window().shownOrder()) best = found;
  }
  return best;
}

std::string Simulation::onScreen() const {
  std::string text;
  for (const Window* w : application_.windows()) {
    if (!w->isVisible()) continue;
    text += "\n  " + std::string(w->isAlertPanel() ? "alert " : "window ") + w->label() +
            (w->acceptsInput() ? "" : " (takes no input now)");
    for (const std::string& line : w->describe()) text += "\n    " + line;
  }
  return text.empty() ? "\n  (no window)" : text;
}

void Simulation::fail(const Move& move, std::string_view why) const {
  std::string message = move.line > 0 ? "line " + std::to_string(move.line) + ": " : "";
  message += move.what + ": " + std::string(why) + "; on screen:" + onScreen();
  throw SimulationError(message);
}

void Simulation::click(std::string button, std::string window) {
  std::string what = "click \"" + button + "\"" + (window.empty() ? "" : " in \"" + window + "\"");
  add(what, [this, button, window]() -> std::function<void()> {
    Button* found = findButton(button, window);
    if (!found) return nullptr;
    return [this, found] {
      transcript_.add("click [" + found->title() + "] in " + found->window().label());
      found->performClick();
    };
  });
}

void Simulation::answerAlert(int n) {
  add("alert " + std::to_string(n), [this, n]() -> std::function<void()> {
    Window* modal = application_.modalWindow();
    if (!modal || !modal->isAlertPanel() || !modal->acceptsInput()) return nullptr;
    std::vector<Button*> buttons;
    Buttons(modal->contentView(), buttons);
    if (n < 1 || static_cast<size_t>(n) > buttons.size()) return nullptr;
    Button* chosen = buttons[static_cast<size_t>(n - 1)];
    return [this, chosen] {
      transcript_.add("alert answered [" + chosen->title() + "]");
      chosen->performClick();
    };
  });
}

void Simulation::pressKey(std::string key) {
  add("key " + (key == "\r" ? std::string("return") : key), [this, key]() -> std::function<void()> {
    Window* front = application_.modalWindow() ? application_.modalWindow() : application_.keyWindow();
    if (!front || !front->acceptsInput()) return nullptr;
    std::vector<Button*> buttons;
    Buttons(front->contentView(), buttons);
    for (Button* b : buttons) {
      if (b->keyEquivalent() == key && b->isEnabled()) {
        return [this, b] {
          transcript_.add("key pressed for [" + b->title() + "]");
          b->performClick();
        };
      }
    }
    return nullptr;
  });
}

void Simulation::closeWindow(std::string title) {
  add("close \"" + title + "\"", [this, title]() -> std::function<void()> {
    Window* w = application_.windowWithTitle(title);
    if (!w || !w->acceptsInput()) return nullptr;
    return [this, w] {
      const bool enabled = w->standardWindowButton(WindowButton::Close).isEnabled();
      transcript_.add("close button of " + w->label() + " clicked" + (enabled ? "" : " (disabled)"));
      w->performClose();
    };
  });
}

void Simulation::chooseMenuItem(std::string title) {
  add("menu \"" + title + "\"", [this, title]() -> std::function<void()> {
    MenuItem* item = application_.mainMenu().findItem(title);
    if (!item) return nullptr;
    return [this, item] {
      const bool enabled = item->isEnabled();
      transcript_.add("menu \"" + item->title() + "\" chosen" + (enabled ? "" : " (disabled)"));
      item->choose();
    };
  });
}

void Simulation::quit() {
  add("quit", [this]() -> std::function<void()> {
    return [this] {
      transcript_.add("quit requested");
      application_.terminate();
    };
  });
}

void Simulation::wait(Milliseconds duration) {
  add("wait " + Seconds(static_cast<uint64_t>(duration.count())), [] { return std::function<void()>([] {}); },
      static_cast<uint64_t>(std::max<int64_t>(duration.count(), 0)));
}

void Simulation::plug() {
  add("plug", [this]() -> std::function<void()> { return [this] { usb_.plug(); }; });
}

void Simulation::unplug() {
  add("unplug", [this]() -> std::function<void()> { return [this] { usb_.unplug(); }; });
}

void Simulation::setVolumeBusy(int count) {
  add("busy " + std::to_string(count), [this, count]() -> std::function<void()> { return [this, count] { usb_.setVolumeBusy(count); }; });
}

void Simulation::answerPassword(int32_t status) {
  add("password answer", [this, status]() -> std::function<void()> {
    return [this, status] { authorization_.answerNext(status); };
  });
}

void Simulation::launchApplication(std::string name) {
  add("launch \"" + name + "\"", [this, name]() -> std::function<void()> { return [this, name] { workspace_.launch(name); }; });
}

void Simulation::quitApplication(std::string name) {
  add("quit-app \"" + name + "\"", [this, name]() -> std::function<void()> {
    return [this, name] { workspace_.quit(name); };
  });
}

void Simulation::switchUser() {
  add("switch-user", [this]() -> std::function<void()> { return [this] { workspace_.switchUser(); }; });
}

void Simulation::expectWindow(std::string title) {
  add("expect-window \"" + title + "\"", [this, title]() -> std::function<void()> {
    if (!application_.windowWithTitle(title)) return nullptr;
    return [] {};
  });
}

void Simulation::expectNoWindow(std::string title) {
  add("expect-no-window \"" + title + "\"", [this, title]() -> std::function<void()> {
    if (application_.windowWithTitle(title)) return nullptr;
    return [] {};
  });
}

void Simulation::expectText(std::string text) {
  add("expect-text \"" + text + "\"", [this, text]() -> std::function<void()> {
    for (const Window* w : application_.windows()) {
      if (!w->isVisible()) continue;
      std::string shown;
      for (const std::string& line : w->describe()) shown += (line.starts_with("| ") ? line.substr(2) : line) + "\n";
      if (shown.find(text) != std::string::npos) return [] {};
    }
    return nullptr;
  });
}

void Simulation::expectTerminated() {
  add("expect-end", [this]() -> std::function<void()> {
    if (!application_.isTerminated()) return nullptr;
    return [] {};
  });
}

void Simulation::capture(std::string file) {
  add("capture \"" + file + "\"", [this, file, line = line_]() -> std::function<void()> {
    auto picture = PictureOfScreen(application_);
    if (!picture) return nullptr;
    return [this, file, line, picture = std::move(*picture)] {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out << WriteScreenPicture(picture);
      out.close();
      if (!out) {
        throw SimulationError((line > 0 ? "line " + std::to_string(line) + ": " : std::string()) + "capture: " + file +
                              " cannot be written");
      }
      transcript_.add("captured \"" + file + "\"", DescribeScreen(application_));
    };
  });
}

void Simulation::then(std::string what, std::function<std::function<void()>()> ready) { add(std::move(what), std::move(ready)); }

bool Simulation::onIdle(RunLoopMode) {
  if (moves_.empty()) return false;
  Move& move = moves_.front();
  const uint64_t now = clock_.nowMs();
  if (!move.startedAt) move.startedAt = now;
  std::function<void()> action;
  if (now >= *move.startedAt + move.waitMs) action = move.ready();
  if (!action) {
    if (move.waitMs == 0 && now >= *move.startedAt + static_cast<uint64_t>(patience_.count())) {
      fail(move, "not possible within " + Seconds(static_cast<uint64_t>(patience_.count())));
    }
    return false;
  }
  // Off the queue before it is made: the move may start a modal loop that makes the next ones.
  moves_.pop_front();
  lastMoveMs_ = now;
  action();
  return true;
}

std::optional<uint64_t> Simulation::nextWake() const {
  if (moves_.empty()) return std::nullopt;
  const Move& move = moves_.front();
  const uint64_t start = move.startedAt.value_or(clock_.nowMs());
  return start + (move.waitMs > 0 ? move.waitMs : static_cast<uint64_t>(patience_.count()));
}

void Simulation::stillWaiting(std::string_view what) {
  if (!moves_.empty()) return;
  const uint64_t now = clock_.nowMs();
  if (now < lastMoveMs_ + static_cast<uint64_t>(idleLimit_.count())) return;
  throw SimulationError("the user has nothing left to do, but the program has been waiting for " + std::string(what) +
                        " for " + Seconds(now - lastMoveMs_) + "; on screen:" + onScreen());
}

void Simulation::runFor(Milliseconds duration) {
  const uint64_t deadline = clock_.nowMs() + static_cast<uint64_t>(std::max<int64_t>(duration.count(), 0));
  while (runLoop_.runOnce(RunLoopMode::Default, deadline)) {
  }
}

bool Simulation::runUntil(const std::function<bool()>& condition, Milliseconds limit) {
  const uint64_t deadline = clock_.nowMs() + static_cast<uint64_t>(std::max<int64_t>(limit.count(), 0));
  while (!condition()) {
    if (!runLoop_.runOnce(RunLoopMode::Default, deadline)) return condition();
  }
  return true;
}

void Simulation::runMoves(Milliseconds limit) {
  if (!runUntil([this] { return moves_.empty(); }, limit)) {
    fail(moves_.front(), "still not made when the run's limit of " + Seconds(static_cast<uint64_t>(limit.count())) + " passed");
  }
}

}  // namespace mac
