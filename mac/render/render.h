#pragma once
// Draws what a capture of the simulated Mac holds (mac/platform/window_picture.h) as the user would
// see it: the window with its title bar, the page's picture from its JPEG, the texts wrapped within
// their frames, the buttons with their titles (the default one blue, the disabled ones grey), the
// progress bar, and the sheet or alert panel over the window. One point of the layer is `scale`
// pixels.
//
// What does not fit is drawn as the Mac would (a text's lines below its frame are left out) and
// reported, since a picture for the documentation must show every word: a text or a title that is
// cut off, a picture that cannot be read, a character none of the fonts has.

#include <string>
#include <vector>

#include "mac/platform/window_picture.h"
#include "mac/render/canvas.h"

namespace mac::render {

struct RenderOptions {
  double scale = 2;
  std::vector<std::string> fontFiles;  // empty: DefaultFontFiles()
};

// The layer's text: 13 points on its lines, tab stops every 28 points.
inline constexpr double kFontSize = 13;
inline constexpr double kLineHeight = TextField::kLineHeight;
inline constexpr double kTabInterval = 28;
inline constexpr double kTitleBarHeight = 22;

struct Rendering {
  RgbImage image;
  std::vector<std::string> problems;
};

// Throws std::runtime_error when the fonts cannot be loaded.
Rendering RenderScreen(const ScreenPicture& screen, const RenderOptions& options = {});

}  // namespace mac::render
