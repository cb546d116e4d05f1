#include "mac/platform/appkit.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "mac/platform/files.h"

namespace mac {

namespace {

// Lines of a text as the transcript shows them.
void AddTextLines(const std::string& text, std::vector<std::string>& lines) {
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back("| " + text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

// The width of each character of `text` in our text metric (see cellSizeForBounds).
std::vector<double> CharacterWidths(std::string_view text) {
  std::vector<double> widths;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    uint32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
    for (size_t k = 1; k < length && i + k < text.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    const bool wide = (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF);
    widths.push_back(wide ? TextField::kWideCharacterWidth : TextField::kCharacterWidth);
    i += length;
  }
  return widths;
}

std::string ButtonLabel(const std::string& title) { return "[" + title + "]"; }

}  // namespace

// ---- View ----

void View::setHidden(bool hidden) {
  if (hidden_ == hidden) return;
  if (hidden) {
    std::vector<std::string> lines;
    describe(lines);
    if (!lines.empty()) report("hides " + lines.front());
    hidden_ = true;
  } else {
    hidden_ = false;
    std::vector<std::string> lines;
    describe(lines);
    if (!lines.empty()) report("shows " + lines.front());
  }
}

void View::addSubview(View& view) {
  if (&view.window_ != &window_) throw std::logic_error("a view can only be placed in its own window");
  if (&view == this) throw std::logic_error("a view cannot contain itself");
  view.removeFromSuperview();
  view.superview_ = this;
  subviews_.push_back(&view);
}

void View::removeFromSuperview() {
  if (!superview_) return;
  auto& siblings = superview_->subviews_;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  if (auto* box = dynamic_cast<Box*>(superview_); box && box->content_ == this) box->content_ = nullptr;
  superview_ = nullptr;
}

bool View::isShown() const {
  if (!window_.isVisible()) return false;
  const View* view = this;
  for (; view->superview_; view = view->superview_) {
    if (view->hidden_) return false;
  }
  return view == window_.content_ && !view->hidden_;
}

void View::describe(std::vector<std::string>& lines) const {
  if (hidden_) return;
  describeSelf(lines);
  for (const View* view : subviews_) view->describe(lines);
}

void View::report(std::string_view change) const {
  if (isShown()) window_.report(change);
}

// ---- Box ----

void Box::setContentView(View* view) {
  if (view == content_) return;
  if (view && &view->window() != &window()) throw std::logic_error("a box shows only views of its own window");
  if (content_) content_->removeFromSuperview();
  content_ = nullptr;
  if (!view) return;
  addSubview(*view);
  content_ = view;
  if (isShown()) {
    std::vector<std::string> lines;
    view->describe(lines);
    window().application().transcript().add(window().label() + " shows", lines);
  }
}

// ---- TextField ----

void TextField::setStringValue(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  if (isShown()) {
    std::vector<std::string> lines;
    AddTextLines(text_, lines);
    window().application().transcript().add(window().label() + " text", lines);
  }
}

Size TextField::cellSizeForBounds(const Rect& bounds) const {
  const double lineWidth = bounds.size.width;
  size_t lines = 0;
  double widest = 0;
  size_t start = 0;
  while (true) {
    const size_t end = text_.find('\n', start);
    const std::string_view paragraph =
        std::string_view(text_).substr(start, end == std::string::npos ? std::string::npos : end - start);
    // Greedy wrapping at blanks; a word longer than a line is broken where the line ends.
    double used = 0;
    size_t paragraphLines = 1;
    size_t pos = 0;
    while (pos < paragraph.size()) {
      const size_t blank = paragraph.find(' ', pos);
      const std::vector<double> word =
          CharacterWidths(paragraph.substr(pos, blank == std::string::npos ? std::string::npos : blank - pos));
      double length = 0;
      for (const double w : word) length += w;
      const double needed = used == 0 ? length : used + kCharacterWidth + length;
      if (needed <= lineWidth) {
        used = needed;
      } else {
        if (used > 0) {
          widest = std::max(widest, used);
          ++paragraphLines;
        }
        used = 0;
        for (const double w : word) {
          if (used > 0 && used + w > lineWidth) {
            widest = std::max(widest, used);
            ++paragraphLines;
            used = 0;
          }
          used += w;
        }
      }
      if (blank == std::string::npos) break;
      pos = blank + 1;
    }
    widest = std::max(widest, used);
    lines += paragraphLines;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return Size{std::min(bounds.size.width, widest), static_cast<double>(lines) * kLineHeight};
}

void TextField::describeSelf(std::vector<std::string>& lines) const {
  if (!text_.empty()) AddTextLines(text_, lines);
}

// ---- Button ----

void Button::setTitle(std::string title) {
  if (title == title_) return;
  const std::string old = ButtonLabel(title_);
  title_ = std::move(title);
  report(old + " is now " + ButtonLabel(title_));
}

void Button::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  report(ButtonLabel(title_) + (enabled ? " enabled" : " disabled"));
}

void Button::performClick() {
  if (!enabled_) return;
  // The action may close and destroy the window that holds this button.
  const Action action = action_;
  if (action) action(*this);
}

void Button::describeSelf(std::vector<std::string>& lines) const {
  lines.push_back(ButtonLabel(title_) + (enabled_ ? "" : " (disabled)"));
}

// ---- Image, ImageView ----

std::optional<Image> Image::initWithContentsOfFile(const FileManager& files, const std::string& path) {
  const auto bytes = files.contentsAtPath(path);
  if (!bytes || bytes->empty()) return std::nullopt;
  const auto host = files.hostPath(path);
  return Image{path, host ? host->string() : std::string()};
}

void ImageView::setImage(std::optional<Image> image) {
  image_ = std::move(image);
  std::vector<std::string> lines;
  describeSelf(lines);
  if (!lines.empty()) report(lines.front());
}

void ImageView::describeSelf(std::vector<std::string>& lines) const {
  if (!image_) return;
  const size_t slash = image_->path.rfind('/');
  lines.push_back("(picture " + image_->path.substr(slash == std::string::npos ? 0 : slash + 1) + ")");
}

// ---- ProgressIndicator ----

int ProgressIndicator::percent() const {
  if (max_ <= min_) return 0;
  const double share = (value_ - min_) * 100.0 / (max_ - min_);
  return static_cast<int>(std::clamp(std::floor(share), 0.0, 100.0));
}

void ProgressIndicator::setDoubleValue(double value) {
  value_ = value;
  if (indeterminate_) return;
  const int now = percent();
  if (now == reportedPercent_ || !isShown()) return;
  reportedPercent_ = now;
  report("progress " + std::to_string(now) + "%");
}

void ProgressIndicator::describeSelf(std::vector<std::string>& lines) const {
  lines.push_back(indeterminate_ ? "(progress, running)" : "(progress " + std::to_string(percent()) + "%)");
}

// ---- Window ----

Window::Window(Application& application, std::string title, Rect frame)
    : application_(application), title_(std::move(title)), frame_(frame) {
  content_ = &make<View>(Rect{{0, 0}, frame.size});
  closeButton_ = &make<Button>(Rect{}, "close");
  application_.windowCreated(*this);
}

Window::~Window() {
  if (attachedSheet_) attachedSheet_->sheetParent_ = nullptr;
  if (sheetParent_) sheetParent_->attachedSheet_ = nullptr;
  application_.windowDestroyed(*this);
}

std::string Window::label() const { return title_.empty() ? "(untitled)" : "\"" + title_ + "\""; }

void Window::report(std::string_view change) const { application_.transcript().add(label() + " " + std::string(change)); }

void Window::setTitle(std::string title) {
  if (title == title_) return;
  const std::string old = label();
  title_ = std::move(title);
  if (visible_) application_.transcript().add("window " + old + " is now " + label());
}

void Window::setFrame(const Rect& frame, bool) { frame_ = frame; }

void Window::center() {
  // The main screen of the simulated Mac.
  constexpr double kScreenWidth = 1440;
  constexpr double kScreenHeight = 900;
  frame_.origin = {std::floor((kScreenWidth - frame_.size.width) / 2),
                   std::floor((kScreenHeight - frame_.size.height) * 2 / 3)};
}

void Window::show(bool makeKey) {
  const bool wasVisible = visible_;
  visible_ = true;
  application_.windowShown(*this, makeKey);
  if (wasVisible) return;
  std::vector<std::string> lines = describe();
  std::string event = alertPanel_ ? "alert " : sheetParent_ ? "sheet " : "window ";
  event += label();
  if (criticalAlert_) event += " (critical)";
  event += sheetParent_ ? " on " + sheetParent_->label() : " shown";
  application_.transcript().add(event, lines);
}

void Window::makeKeyAndOrderFront() { show(true); }
void Window::orderFront() { show(false); }

void Window::orderOut() {
  if (!visible_) return;
  visible_ = false;
  if (application_.keyWindow_ == this) application_.keyWindow_ = nullptr;
  application_.transcript().add((alertPanel_ ? "alert " : "window ") + label() + " gone");
}

void Window::close() {
  if (visible_) {
    visible_ = false;
    if (application_.keyWindow_ == this) application_.keyWindow_ = nullptr;
    application_.transcript().add("window " + label() + " closed");
  }
  // Last: the delegate may end the application, and may destroy this window.
  if (delegate_) delegate_->windowWillClose(*this);
}

void Window::performClose() {
  if (!closeButton_->isEnabled()) return;
  if (delegate_ && !delegate_->windowShouldClose(*this)) return;
  close();
}

Button& Window::standardWindowButton(WindowButton) { return *closeButton_; }

bool Window::acceptsInput() const {
  if (!visible_ || attachedSheet_) return false;
  const Window* modal = application_.modalWindow();
  return !modal || modal == this || sheetParent_ == modal;
}

std::vector<std::string> Window::describe() const {
  std::vector<std::string> lines;
  content_->describe(lines);
  if (!closeButton_->isEnabled()) lines.push_back("(close button disabled)");
  return lines;
}

// ---- Menus ----

Menu& MenuItem::setSubmenu(std::unique_ptr<Menu> submenu) {
  submenu_ = std::move(submenu);
  return *submenu_;
}

bool MenuItem::isEnabled() {
  if (separator_) return false;
  return validator_ ? validator_(*this) : enabled_;
}

bool MenuItem::choose() {
  if (!isEnabled()) return false;
  const Action action = action_;
  if (action) action(*this);
  return true;
}

MenuItem& Menu::addItem(std::string title, int tag) {
  items_.push_back(std::make_unique<MenuItem>(std::move(title), tag, false));
  return *items_.back();
}

MenuItem& Menu::addSeparator() {
  items_.push_back(std::make_unique<MenuItem>(std::string(), 0, true));
  return *items_.back();
}

MenuItem* Menu::itemWithTag(int tag) const {
  for (const auto& item : items_) {
    if (!item->isSeparatorItem() && item->tag() == tag) return item.get();
  }
  return nullptr;
}

MenuItem* Menu::findItem(std::string_view title) const {
  for (const auto& item : items_) {
    if (!item->isSeparatorItem() && item->title() == title) return item.get();
    if (item->hasSubmenu()) {
      if (MenuItem* found = item->submenu()->findItem(title)) return found;
    }
  }
  return nullptr;
}

// ---- Application ----

Application::Application(RunLoop& runLoop, Transcript& transcript) : runLoop_(runLoop), transcript_(transcript) {}

Application::~Application() = default;

void Application::windowDestroyed(Window& window) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), &window), windows_.end());
  if (keyWindow_ == &window) keyWindow_ = nullptr;
  for (Modal& modal : modals_) {
    if (modal.window != &window) continue;
    modal.window = nullptr;
    if (!modal.stopped) {
      modal.stopped = true;
      modal.code = NSRunAbortedResponse;
    }
  }
}

void Application::windowShown(Window& window, bool makeKey) {
  window.shownOrder_ = ++showCounter_;
  if (makeKey) keyWindow_ = &window;
}

Window* Application::windowWithTitle(std::string_view title) const {
  Window* found = nullptr;
  for (Window* window : windows_) {
    if (window->isVisible() && window->title() == title && (!found || window->shownOrder_ > found->shownOrder_)) {
      found = window;
    }
  }
  return found;
}

void Application::waitPass(RunLoopMode mode, std::string_view what) {
  runLoop_.runOnce(mode, runLoop_.clock().nowMs() + 60000);
  if (IdleHandler* idle = runLoop_.idleHandler()) idle->stillWaiting(what);
}

void Application::finishLaunching() {
  if (launched_) return;
  launched_ = true;
  transcript_.add("application launched");
  if (delegate_) delegate_->applicationWillFinishLaunching();
  if (!terminated_ && delegate_) delegate_->applicationDidFinishLaunching();
}

void Application::run() {
  finishLaunching();
  while (!terminated_) waitPass(RunLoopMode::Default, "the application to end");
}

void Application::terminate() {
  if (terminated_ || terminationPending_) return;
  const TerminateReply reply = delegate_ ? delegate_->applicationShouldTerminate() : TerminateReply::Now;
  if (reply == TerminateReply::Now) {
    finishTermination();
  } else if (reply == TerminateReply::Later) {
    terminationPending_ = true;
  } else {
    transcript_.add("quit refused");
  }
}

void Application::replyToApplicationShouldTerminate(bool shouldTerminate) {
  if (!terminationPending_) return;
  terminationPending_ = false;
  if (shouldTerminate) {
    finishTermination();
  } else {
    transcript_.add("quit refused");
  }
}

void Application::finishTermination() {
  if (delegate_) delegate_->applicationWillTerminate();
  terminated_ = true;
  transcript_.add("application terminated");
  if (processExit_) processExit_();
}

int Application::runModalForWindow(Window& window) {
  const uint64_t id = nextSession_++;
  modals_.push_back(Modal{&window, id});
  window.makeKeyAndOrderFront();
  auto find = [&]() { return std::find_if(modals_.begin(), modals_.end(), [id](const Modal& m) { return m.session == id; }); };
  const std::string what = "an answer in the modal window " + window.label();
  while (!find()->stopped && !terminated_) waitPass(RunLoopMode::ModalPanel, what);
  const auto modal = find();
  const int code = modal->stopped ? modal->code : NSRunAbortedResponse;
  modals_.erase(modal);
  return code;
}

void Application::stopModalWithCode(int code) {
  for (auto it = modals_.rbegin(); it != modals_.rend(); ++it) {
    if (it->stopped) continue;
    it->stopped = true;
    it->code = code;
    return;
  }
}

ModalSession Application::beginModalSessionForWindow(Window& window) {
  const uint64_t id = nextSession_++;
  modals_.push_back(Modal{&window, id});
  window.makeKeyAndOrderFront();
  return ModalSession{id};
}

int Application::runModalSession(ModalSession session) {
  runLoop_.runPending(RunLoopMode::ModalPanel);
  const auto it = std::find_if(modals_.begin(), modals_.end(), [&](const Modal& m) { return m.session == session.id; });
  if (it == modals_.end()) return NSRunAbortedResponse;
  return it->stopped ? it->code : NSRunContinuesResponse;
}

void Application::endModalSession(ModalSession session) {
  modals_.erase(std::remove_if(modals_.begin(), modals_.end(), [&](const Modal& m) { return m.session == session.id; }),
                modals_.end());
}

Window* Application::modalWindow() const {
  for (auto it = modals_.rbegin(); it != modals_.rend(); ++it) {
    if (it->window) return it->window;
  }
  return nullptr;
}

void Application::beginSheet(Window& sheet, Window& parent, std::function<void(Window&, int)> didEnd) {
  if (parent.attachedSheet_) throw std::logic_error("window " + parent.label() + " already shows a sheet");
  if (sheet.sheetParent_) throw std::logic_error("window " + sheet.label() + " is already a sheet");
  parent.attachedSheet_ = &sheet;
  sheet.sheetParent_ = &parent;
  sheet.sheetDidEnd_ = std::move(didEnd);
  sheet.visible_ = false;  // slides in anew, as the transcript should show
  sheet.show(true);
}

void Application::endSheet(Window& sheet, int returnCode) {
  Window* parent = sheet.sheetParent_;
  if (!parent) return;
  parent->attachedSheet_ = nullptr;
  sheet.sheetParent_ = nullptr;
  transcript_.add("sheet " + sheet.label() + " ended on " + parent->label());
  // Last: the callback may destroy the sheet.
  auto didEnd = std::move(sheet.sheetDidEnd_);
  sheet.sheetDidEnd_ = nullptr;
  if (didEnd) didEnd(sheet, returnCode);
}

int Application::runAlert(bool critical, const std::string& title, const std::string& message,
                          const std::vector<std::pair<std::string, int>>& buttons) {
  Window panel(*this, title, Rect{{0, 0}, {420, 150}});
  panel.alertPanel_ = true;
  panel.criticalAlert_ = critical;
  View& content = panel.contentView();
  content.addSubview(panel.make<TextField>(Rect{{80, 60}, {320, 34}}, message));
  double x = 320;
  for (const auto& [buttonTitle, code] : buttons) {
    Button& button = panel.make<Button>(Rect{{x, 12}, {90, 32}}, buttonTitle);
    button.setAction([this, code = code](Button&) { stopModalWithCode(code); });
    if (code == NSAlertDefaultReturn) button.setKeyEquivalent("\r");
    content.addSubview(button);
    x -= 100;
  }
  const int answer = runModalForWindow(panel);
  panel.orderOut();
  return answer;
}

namespace {
// An empty default button is "OK"; empty others are not shown.
std::vector<std::pair<std::string, int>> AlertButtons(const std::string& first, const std::string& second,
                                                      const std::string& third) {
  std::vector<std::pair<std::string, int>> buttons{{first.empty() ? "OK" : first, NSAlertDefaultReturn}};
  if (!second.empty()) buttons.emplace_back(second, NSAlertAlternateReturn);
  if (!third.empty()) buttons.emplace_back(third, NSAlertOtherReturn);
  return buttons;
}
}  // namespace

int Application::runAlertPanel(const std::string& title, const std::string& message, const std::string& defaultButton,
                               const std::string& alternateButton, const std::string& otherButton) {
  return runAlert(false, title, message, AlertButtons(defaultButton, alternateButton, otherButton));
}

int Application::runCriticalAlertPanel(const std::string& title, const std::string& message,
                                       const std::string& defaultButton, const std::string& alternateButton,
                                       const std::string& otherButton) {
  return runAlert(true, title, message, AlertButtons(defaultButton, alternateButton, otherButton));
}

}  // namespace mac
