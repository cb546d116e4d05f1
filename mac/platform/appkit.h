#pragma once
// AppKit as the Mac programs use it: the application object and its delegate, windows with their
// views (boxes whose content is swapped, text fields, buttons, pictures, progress bars), menus with
// tagged items, sheets run modally or with a did-end callback, and alert panels.
//
// Ownership: a window owns every view made for it (`make<T>()`), whether or not the view is in its
// content tree, so a page view can leave a box and come back without anybody else keeping it. A
// window is owned by whoever created it; the application only knows the windows that exist, for the
// simulated user and the transcript. Views and windows are not copied or moved.
//
// Inside a test the application never ends the process: `terminate` runs the delegate's questions
// and then marks the application terminated, which ends every loop the program is blocked in (the
// modal loop returns an abort), and the program returns from where it stands. A program started on
// its own (ApplicationMain) ends the process there instead, as terminate: does on the Mac: code
// after a terminate never runs.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mac/platform/runloop.h"
#include "mac/platform/transcript.h"

namespace mac {

class Application;
class Window;
class FileManager;

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};
struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};
struct Rect {
  Point origin;
  Size size;
  bool operator==(const Rect&) const = default;
};

class View {
 public:
  View(const View&) = delete;
  View& operator=(const View&) = delete;
  virtual ~View() = default;

  Window& window() const { return window_; }
  const Rect& frame() const { return frame_; }
  void setFrame(const Rect& frame) { frame_ = frame; }
  void setFrameOrigin(Point origin) { frame_.origin = origin; }
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);

  View* superview() const { return superview_; }
  const std::vector<View*>& subviews() const { return subviews_; }
  // Only views of the same window; a view in another superview leaves it first.
  void addSubview(View& view);
  void removeFromSuperview();

  // On screen: in its window's content tree, neither it nor a superview hidden, the window visible.
  bool isShown() const;

  // What a user sees of this view and the views within it, one line each.
  void describe(std::vector<std::string>& lines) const;

 protected:
  View(Window& window, Rect frame) : window_(window), frame_(frame) {}
  virtual void describeSelf(std::vector<std::string>&) const {}
  // A change the user sees, when the view is on screen.
  void report(std::string_view change) const;

 private:
  friend class Window;
  friend class Box;
  Window& window_;
  Rect frame_;
  bool hidden_ = false;
  View* superview_ = nullptr;
  std::vector<View*> subviews_;
};

// NSBox: shows one content view at a time.
class Box : public View {
 public:
  View* contentView() const { return content_; }
  // The new content replaces the old one, which stays with the window for later.
  void setContentView(View* view);

 private:
  friend class Window;
  friend class View;
  Box(Window& window, Rect frame) : View(window, frame) {}
  View* content_ = nullptr;
};

class TextField : public View {
 public:
  const std::string& stringValue() const { return text_; }
  void setStringValue(std::string text);

  // The size the text needs within `bounds`: the cell wraps at word boundaries to the bounds' width
  // and breaks at line feeds. Our text metric: every character 7 points wide, except that a Japanese
  // or other East Asian wide character takes the 13-point font's full width; lines 17 points high.
  Size cellSizeForBounds(const Rect& bounds) const;
  static constexpr double kCharacterWidth = 7.0;
  static constexpr double kWideCharacterWidth = 13.0;
  static constexpr double kLineHeight = 17.0;

 private:
  friend class Window;
  TextField(Window& window, Rect frame, std::string text = {}) : View(window, frame), text_(std::move(text)) {}
  void describeSelf(std::vector<std::string>& lines) const override;
  std::string text_;
};

class Button : public View {
 public:
  using Action = std::function<void(Button&)>;

  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }  // "\r" is Return
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  // The target and action of the button.
  void setAction(Action action) { action_ = std::move(action); }

  // As if clicked: nothing when disabled.
  void performClick();

 private:
  friend class Window;
  Button(Window& window, Rect frame, std::string title = {}) : View(window, frame), title_(std::move(title)) {}
  void describeSelf(std::vector<std::string>& lines) const override;
  std::string title_;
  bool enabled_ = true;
  std::string keyEquivalent_;
  int tag_ = 0;
  Action action_;
};

// NSImage, as far as the programs need one: a picture file that could be read.
struct Image {
  std::string path;
  std::string file;  // where its data is on this machine, for drawing it
  // initWithContentsOfFile: nothing when the file is missing or empty.
  static std::optional<Image> initWithContentsOfFile(const FileManager& files, const std::string& path);
};

class ImageView : public View {
 public:
  const std::optional<Image>& image() const { return image_; }
  void setImage(std::optional<Image> image);

 private:
  friend class Window;
  ImageView(Window& window, Rect frame) : View(window, frame) {}
  void describeSelf(std::vector<std::string>& lines) const override;
  std::optional<Image> image_;
};

class ProgressIndicator : public View {
 public:
  double doubleValue() const { return value_; }
  void setDoubleValue(double value);
  double minValue() const { return min_; }
  void setMinValue(double value) { min_ = value; }
  double maxValue() const { return max_; }
  void setMaxValue(double value) { max_ = value; }
  bool isIndeterminate() const { return indeterminate_; }
  void setIndeterminate(bool indeterminate) { indeterminate_ = indeterminate; }
  bool isAnimating() const { return animating_; }
  void startAnimation() { animating_ = true; }
  void stopAnimation() { animating_ = false; }
  void setNeedsDisplay() {}
  // The share of the bar that is filled, 0 to 100.
  int percent() const;

 private:
  friend class Window;
  ProgressIndicator(Window& window, Rect frame) : View(window, frame) {}
  void describeSelf(std::vector<std::string>& lines) const override;
  double value_ = 0;
  double min_ = 0;
  double max_ = 100;
  bool indeterminate_ = false;
  bool animating_ = false;
  int reportedPercent_ = -1;
};

class WindowDelegate {
 public:
  virtual ~WindowDelegate() = default;
  virtual bool windowShouldClose(Window&) { return true; }
  virtual void windowWillClose(Window&) {}
};

// NSWindowCloseButton; the other title bar buttons are not used.
enum class WindowButton { Close };

class Window {
 public:
  Window(Application& application, std::string title, Rect frame = {{0, 0}, {480, 360}});
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  ~Window();

  Application& application() const { return application_; }

  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  const Rect& frame() const { return frame_; }
  void setFrame(const Rect& frame, bool display);
  void center();

  void makeKeyAndOrderFront();
  void orderFront();
  void orderOut();
  bool isVisible() const { return visible_; }
  // Closes without asking the delegate whether it may (but telling it that it will).
  void close();
  // The close button clicked: nothing when it is disabled or the delegate says no.
  void performClose();

  View& contentView() { return *content_; }
  const View& contentView() const { return *content_; }
  Button& standardWindowButton(WindowButton button);
  const Button& standardWindowButton(WindowButton) const { return *closeButton_; }

  template <typename T, typename... Args>
  T& make(Args&&... args) {
    T* view = new T(*this, std::forward<Args>(args)...);
    views_.emplace_back(view);
    return *view;
  }

  void setDelegate(WindowDelegate* delegate) { delegate_ = delegate; }
  WindowDelegate* delegate() const { return delegate_; }

  Window* attachedSheet() const { return attachedSheet_; }
  Window* sheetParent() const { return sheetParent_; }
  bool isAlertPanel() const { return alertPanel_; }
  // Larger for the window brought to the front later.
  uint64_t shownOrder() const { return shownOrder_; }

  // A user's click reaches it: visible, no sheet over it, and no other window running modally.
  bool acceptsInput() const;

  // What a user sees of the window's contents, one line each.
  std::vector<std::string> describe() const;
  std::string label() const;  // the title in quotes, for the transcript

 private:
  friend class Application;
  friend class View;
  void report(std::string_view change) const;
  void show(bool makeKey);

  Application& application_;
  std::string title_;
  Rect frame_;
  bool visible_ = false;
  bool alertPanel_ = false;
  bool criticalAlert_ = false;
  uint64_t shownOrder_ = 0;
  WindowDelegate* delegate_ = nullptr;
  Window* attachedSheet_ = nullptr;
  Window* sheetParent_ = nullptr;
  std::function<void(Window&, int)> sheetDidEnd_;
  std::vector<std::unique_ptr<View>> views_;
  View* content_ = nullptr;
  Button* closeButton_ = nullptr;
};

class Menu;

class MenuItem {
 public:
  using Action = std::function<void(MenuItem&)>;
  using Validator = std::function<bool(MenuItem&)>;

  MenuItem(std::string title, int tag, bool separator) : title_(std::move(title)), tag_(tag), separator_(separator) {}

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  bool isSeparatorItem() const { return separator_; }

  bool hasSubmenu() const { return submenu_ != nullptr; }
  Menu* submenu() const { return submenu_.get(); }
  Menu& setSubmenu(std::unique_ptr<Menu> submenu);

  // The target and action; the validator stands for the target's validateMenuItem:, which enables
  // the item each time the menu is shown.
  void setAction(Action action) { action_ = std::move(action); }
  void setValidator(Validator validator) { validator_ = std::move(validator); }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  bool isEnabled();

  // The user chooses the item: false, and nothing done, when it is disabled.
  bool choose();

 private:
  std::string title_;
  int tag_;
  bool separator_;
  bool enabled_ = true;
  std::unique_ptr<Menu> submenu_;
  Action action_;
  Validator validator_;
};

class Menu {
 public:
  explicit Menu(std::string title = {}) : title_(std::move(title)) {}
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

  MenuItem& addItem(std::string title, int tag = 0);
  MenuItem& addSeparator();
  size_t numberOfItems() const { return items_.size(); }
  MenuItem& itemAtIndex(size_t index) const { return *items_.at(index); }
  MenuItem* itemWithTag(int tag) const;
  // Searches the submenus too, depth first.
  MenuItem* findItem(std::string_view title) const;

 private:
  std::string title_;
  std::vector<std::unique_ptr<MenuItem>> items_;
};

// NSApplicationTerminateReply.
enum class TerminateReply { Now, Cancel, Later };

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationWillFinishLaunching() {}
  virtual void applicationDidFinishLaunching() {}
  virtual TerminateReply applicationShouldTerminate() { return TerminateReply::Now; }
  virtual void applicationWillTerminate() {}
};

// Modal responses (NSRunStoppedResponse ...) and the alert panel's answers.
inline constexpr int NSRunStoppedResponse = -1000;
inline constexpr int NSRunAbortedResponse = -1001;
inline constexpr int NSRunContinuesResponse = -1002;
inline constexpr int NSAlertDefaultReturn = 1;
inline constexpr int NSAlertAlternateReturn = 0;
inline constexpr int NSAlertOtherReturn = -1;

struct ModalSession {
  uint64_t id = 0;
};

class Application {
 public:
  Application(RunLoop& runLoop, Transcript& transcript);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  ~Application();

  RunLoop& runLoop() const { return runLoop_; }
  Transcript& transcript() const { return transcript_; }

  void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }
  ApplicationDelegate* delegate() const { return delegate_; }

  // The delegate's will- and did-finish-launching (the latter not when the former terminated).
  void finishLaunching();
  // NSApplicationMain's part: finish launching, then run the default mode until terminated.
  void run();
  // Asks the delegate; Now ends the application (after applicationWillTerminate), Later waits for
  // replyToApplicationShouldTerminate.
  void terminate();
  void replyToApplicationShouldTerminate(bool shouldTerminate);
  // What ends the process once the application has terminated (after applicationWillTerminate);
  // without it the application is only marked terminated.
  void setProcessExit(std::function<void()> exit) { processExit_ = std::move(exit); }
  bool isLaunched() const { return launched_; }
  bool isTerminated() const { return terminated_; }

  Menu& mainMenu() { return mainMenu_; }

  // Runs the modal panel mode until stopModal/abortModal (or the end of the application).
  int runModalForWindow(Window& window);
  void stopModal() { stopModalWithCode(NSRunStoppedResponse); }
  void stopModalWithCode(int code);
  void abortModal() { stopModalWithCode(NSRunAbortedResponse); }
  // A modal session the caller keeps alive itself, one pass at a time; no time passes in a pass.
  ModalSession beginModalSessionForWindow(Window& window);
  int runModalSession(ModalSession session);
  void endModalSession(ModalSession session);
  // The window of the innermost modal loop or session.
  Window* modalWindow() const;

  // The sheet slides over `parent`; `didEnd` is called by endSheet. The sheet stays on screen until
  // it is ordered out.
  void beginSheet(Window& sheet, Window& parent, std::function<void(Window& sheet, int returnCode)> didEnd = {});
  // Nothing when `sheet` is not shown as a sheet.
  void endSheet(Window& sheet, int returnCode = 0);

  // NSRunAlertPanel and NSRunCriticalAlertPanel: a modal panel with the title, the message and up to
  // three buttons (an empty default button is "OK", empty others are left out). Answers
  // NSAlertDefaultReturn, NSAlertAlternateReturn or NSAlertOtherReturn.
  int runAlertPanel(const std::string& title, const std::string& message, const std::string& defaultButton = {},
                    const std::string& alternateButton = {}, const std::string& otherButton = {});
  int runCriticalAlertPanel(const std::string& title, const std::string& message, const std::string& defaultButton = {},
                            const std::string& alternateButton = {}, const std::string& otherButton = {});

  const std::vector<Window*>& windows() const { return windows_; }
  // The visible window of that title shown last.
  Window* windowWithTitle(std::string_view title) const;
  Window* keyWindow() const { return keyWindow_; }

 private:
  friend class Window;
  struct Modal {
    Window* window;
    uint64_t session;  // 0 for runModalForWindow
    bool stopped = false;
    int code = NSRunStoppedResponse;
  };
  int runAlert(bool critical, const std::string& title, const std::string& message,
               const std::vector<std::pair<std::string, int>>& buttons);
  void waitPass(RunLoopMode mode, std::string_view what);
  void finishTermination();
  void windowCreated(Window& window) { windows_.push_back(&window); }
  void windowDestroyed(Window& window);
  void windowShown(Window& window, bool makeKey);

  RunLoop& runLoop_;
  Transcript& transcript_;
  ApplicationDelegate* delegate_ = nullptr;
  Menu mainMenu_;
  std::vector<Window*> windows_;
  Window* keyWindow_ = nullptr;
  std::vector<Modal> modals_;
  uint64_t nextSession_ = 1;
  uint64_t showCounter_ = 0;
  bool launched_ = false;
  bool terminated_ = false;
  bool terminationPending_ = false;
  std::function<void()> processExit_;
};

}  // namespace mac
