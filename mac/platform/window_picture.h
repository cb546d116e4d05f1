#pragma once
// What the user sees of the front window at one moment, flattened for drawing: the window with its
// title and the views on screen (texts, buttons, pictures, progress bars), each at its place in the
// window, and the sheet or alert panel over it. A capture of the simulated user writes it to a file
// that has no dependency on this process (pictures are named by their file on this machine), so
// that a drawing tool can turn it into an image later; the layer itself draws nothing.
//
// The file is text, one line each: a header, then per window a line "window|sheet|alert W H
// closable|unclosable TITLE" followed by its elements, one a line ("text X Y W H TEXT", "button X Y
// W H enabled|disabled default|plain TITLE", "image X Y W H FILE", "progress X Y W H PERCENT|running");
// texts are in double quotes with \" \\ \n and \t inside.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mac/platform/appkit.h"

namespace mac {

struct PictureElement {
  enum class Kind { Text, Button, Image, Progress };
  Kind kind = Kind::Text;
  // In points from the lower left corner of the window's content, as the views' frames are.
  Rect frame;
  std::string text;           // a text field's text, a button's title
  bool enabled = true;        // buttons
  bool isDefault = false;     // a button whose key equivalent is Return
  std::string file;           // a picture: its file on this machine
  double percent = 0;         // a progress bar: the share filled, 0 to 100
  bool indeterminate = false;

  bool operator==(const PictureElement&) const = default;
};

struct WindowPicture {
  enum class Kind { Window, Sheet, Alert };
  Kind kind = Kind::Window;
  std::string title;
  Size size;  // of the content, without the title bar
  bool closable = true;
  std::vector<PictureElement> elements;  // back to front

  bool operator==(const WindowPicture&) const = default;
};

struct ScreenPicture {
  WindowPicture window;
  std::optional<WindowPicture> over;  // the sheet on the window, or an alert panel in front of it

  bool operator==(const ScreenPicture&) const = default;
};

// The window as it is shown now: the views in its content tree that are not hidden.
WindowPicture PictureOfWindow(const Window& window);

// The application's front window (visible, neither a sheet nor an alert panel, shown last) with its
// sheet, or else the alert panel shown last over it; an alert panel alone when no other window is
// visible. Nothing when no window is visible.
std::optional<ScreenPicture> PictureOfScreen(const Application& application);

// The window's lines as the transcript shows them, for saying what a capture holds.
std::vector<std::string> DescribeScreen(const Application& application);

std::string WriteScreenPicture(const ScreenPicture& picture);
// Nothing, with `error` naming the line, for a file that is not one WriteScreenPicture wrote.
std::optional<ScreenPicture> ReadScreenPicture(std::string_view text, std::string& error);

}  // namespace mac
