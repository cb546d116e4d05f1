#include "mac/render/render.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <cstdio>
#include <map>
#include <set>

#include "mac/render/text.h"

namespace mac::render {

namespace {

// The look of a Mac of the updater's time, in the few colours the pictures need.
constexpr Color kBackground{255, 255, 255};
constexpr Color kWindow{236, 236, 236};
constexpr Color kWindowEdge{154, 154, 154};
constexpr Color kTitleTop{236, 236, 236};
constexpr Color kTitleBottom{212, 212, 212};
constexpr Color kTitleLine{168, 168, 168};
constexpr Color kTitleText{77, 77, 77};
constexpr Color kText{0, 0, 0};
constexpr Color kDisabledText{160, 160, 160};
constexpr Color kButtonTop{255, 255, 255};
constexpr Color kButtonBottom{241, 241, 241};
constexpr Color kButtonEdge{176, 176, 176};
constexpr Color kDefaultTop{108, 176, 250};
constexpr Color kDefaultBottom{22, 126, 246};
constexpr Color kDefaultEdge{62, 128, 222};
constexpr Color kWhite{255, 255, 255};
constexpr Color kShadow{0, 0, 0};
constexpr Color kTrack{228, 228, 228};
constexpr Color kTrackEdge{178, 178, 178};
constexpr Color kBarTop{123, 183, 245};
constexpr Color kBarBottom{47, 127, 230};
constexpr Color kMissingPicture{210, 210, 210};
constexpr Color kClose{252, 96, 92};
constexpr Color kMinimize{253, 188, 64};
constexpr Color kZoom{52, 200, 74};
constexpr Color kLightOff{208, 208, 208};

constexpr double kButtonBezel = 21;  // a push button's visible height within its 32-point frame

// A text for a message: on one line, at most 40 characters.
std::string Shorten(const std::string& text) {
  std::string flat;
  for (const char c : text) flat += c == '\n' || c == '\t' ? ' ' : c;
  size_t characters = 0;
  for (size_t i = 0; i < flat.size(); ++i) {
    if ((flat[i] & 0xC0) != 0x80 && characters++ == 40) return "\"" + flat.substr(0, i) + "...\"";
  }
  return "\"" + flat + "\"";
}

class Painter {
 public:
  Painter(Canvas& canvas, const Fonts& fonts, double scale, std::vector<std::string>& problems)
      : canvas_(canvas), fonts_(fonts), s_(scale), problems_(problems) {}

  // The window with its top left corner (title bar included, if it has one) at `left`, `top` points.
  void window(const WindowPicture& w, double left, double top, bool titleBar, bool active) {
    const double bar = titleBar ? kTitleBarHeight : 0;
    const Area whole = px(left, top, w.size.width, w.size.height + bar);
    if (w.kind != WindowPicture::Kind::Window) shadow(whole);
    canvas_.fillRoundedRect(whole, titleBar ? 5 * s_ : 0, kWindow);
    if (titleBar) titleBarOf(w, left, top, whole);
    for (const PictureElement& e : w.elements) {
      // The layer's frames count from the content's lower left corner.
      const double x = left + e.frame.origin.x;
      const double y = top + bar + w.size.height - e.frame.origin.y - e.frame.size.height;
      const Area area = px(x, y, e.frame.size.width, e.frame.size.height);
      switch (e.kind) {
        case PictureElement::Kind::Text: text(e.text, area); break;
        case PictureElement::Kind::Button: button(e, area, active); break;
        case PictureElement::Kind::Image: image(e.file, area); break;
        case PictureElement::Kind::Progress: progress(e, area); break;
      }
    }
    canvas_.strokeRoundedRect(whole, titleBar ? 5 * s_ : 0, std::max(1.0, s_ / 2), kWindowEdge);
  }

 private:
  Area px(double x, double y, double width, double height) const { return Area{x * s_, y * s_, width * s_, height * s_}; }

  void shadow(const Area& a) {
    const int reach = static_cast<int>(std::lround(8 * s_));
    for (int i = 1; i <= reach; ++i) {
      const Area ring{a.x - i, a.y - i / 2.0, a.width + 2 * i, a.height + 1.5 * i};
      canvas_.strokeRoundedRect(ring, 4 * s_ + i, 1, kShadow, 0.16 * (1 - static_cast<double>(i) / (reach + 1)));
    }
  }

  void titleBarOf(const WindowPicture& w, double left, double top, const Area& whole) {
    const Area bar = px(left, top, w.size.width, kTitleBarHeight);
    canvas_.fillGradient(bar, kTitleTop, kTitleBottom, 5 * s_, &whole);
    canvas_.fillRect(Area{bar.x, bar.y + bar.height - s_ / 2, bar.width, s_ / 2}, kTitleLine);
    if (w.kind == WindowPicture::Kind::Window) {
      const Color lights[] = {w.closable ? kClose : kLightOff, kMinimize, kZoom};
      for (int i = 0; i < 3; ++i) canvas_.fillCircle((left + 14 + 20 * i) * s_, (top + 11) * s_, 6 * s_, lights[i]);
    }
    const std::u32string title = DecodeUtf8(w.title);
    const double width = fonts_.width(title, kTabInterval * s_);
    const double room = bar.width - (w.kind == WindowPicture::Kind::Window ? 2 * 70 * s_ : 2 * 8 * s_);
    if (width > room) problems_.push_back("the title " + Shorten(w.title) + " is wider than its title bar");
    missingGlyphs(title);
    fonts_.draw(canvas_, bar.x + (bar.width - width) / 2, baseline(bar.y, bar.height), title, kTitleText, kTabInterval * s_);
  }

  double baseline(double top, double height) const {
    return top + (height - (fonts_.ascent() + fonts_.descent())) / 2 + fonts_.ascent();
  }

  void text(const std::string& value, const Area& area) {
    const std::u32string chars = DecodeUtf8(value);
    missingGlyphs(chars);
    const std::vector<std::u32string> lines = fonts_.wrap(chars, area.width, kTabInterval * s_);
    const double line = kLineHeight * s_;
    // Whole lines only, with a point to spare, as the layer measures them.
    const auto room = static_cast<size_t>(std::floor((area.height + s_) / line));
    if (lines.size() > room) {
      problems_.push_back("the text " + Shorten(value) + " needs " + std::to_string(lines.size()) + " lines, its frame holds " +
                          std::to_string(room));
    }
    // Room for punctuation that hangs past the edge, and for the last line's descenders.
    canvas_.setClip(Area{area.x, area.y, area.width + fonts_.pixelSize(), area.height + line});
    for (size_t i = 0; i < std::min(lines.size(), room); ++i) {
      const double top = area.y + static_cast<double>(i) * line;
      fonts_.draw(canvas_, area.x, baseline(top, line), lines[i], kText, kTabInterval * s_);
    }
    canvas_.resetClip();
  }

  void button(const PictureElement& e, const Area& frame, bool active) {
    const Area bezel{frame.x + 6 * s_, frame.y + (frame.height - kButtonBezel * s_) / 2 - s_ / 2, frame.width - 12 * s_,
                     kButtonBezel * s_};
    const bool blue = e.isDefault && e.enabled && active;
    const double radius = 4 * s_;
    canvas_.fillGradient(bezel, blue ? kDefaultTop : kButtonTop, blue ? kDefaultBottom : kButtonBottom, radius);
    canvas_.strokeRoundedRect(bezel, radius, std::max(1.0, s_ / 2), blue ? kDefaultEdge : kButtonEdge, e.enabled ? 1.0 : 0.5);
    const std::u32string title = DecodeUtf8(e.text);
    missingGlyphs(title);
    const double width = fonts_.width(title, kTabInterval * s_);
    if (width > bezel.width - 8 * s_) problems_.push_back("the button title " + Shorten(e.text) + " is wider than its button");
    const Color color = !e.enabled ? kDisabledText : blue ? kWhite : kText;
    fonts_.draw(canvas_, bezel.x + (bezel.width - width) / 2, baseline(bezel.y, bezel.height), title, color, kTabInterval * s_);
  }

  // Scaled down to fit, never up, and centred, as an image view does by default.
  void image(const std::string& file, const Area& frame) {
    auto found = pictures_.find(file);
    if (found == pictures_.end()) {
      std::ifstream in(file, std::ios::binary);
      std::string error = "it cannot be read";
      std::optional<RgbImage> decoded;
      if (in) decoded = DecodeJpeg({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}, error);
      if (!decoded) problems_.push_back("the picture " + file + " cannot be drawn: " + error);
      found = pictures_.emplace(file, std::move(decoded)).first;
    }
    if (!found->second) {
      canvas_.fillRect(frame, kMissingPicture);
      return;
    }
    const RgbImage& picture = *found->second;
    // A picture's pixel is a point.
    const double fit = std::min({1.0, frame.width / (picture.width * s_), frame.height / (picture.height * s_)});
    const double width = picture.width * s_ * fit;
    const double height = picture.height * s_ * fit;
    canvas_.drawImage(picture, Area{frame.x + (frame.width - width) / 2, frame.y + (frame.height - height) / 2, width, height});
  }

  void progress(const PictureElement& e, const Area& frame) {
    const double thickness = 10 * s_;
    const Area track{frame.x, frame.y + (frame.height - thickness) / 2, frame.width, thickness};
    const double radius = thickness / 2;
    canvas_.fillRoundedRect(track, radius, kTrack);
    if (e.indeterminate) {
      canvas_.fillGradient(track, kBarTop, kBarBottom, radius);
      // Light stripes across the bar, as the running bar shows them.
      canvas_.setClip(track);
      const double period = 12 * s_;
      for (double x = track.x - track.height; x < track.x + track.width; x += period) {
        for (int y = 0; y < static_cast<int>(track.height); ++y) {
          for (int k = 0; k < static_cast<int>(period / 2); ++k) {
            canvas_.blend(static_cast<int>(x + y + k), static_cast<int>(track.y) + y, kWhite, 0.35);
          }
        }
      }
      canvas_.resetClip();
    } else if (e.percent > 0) {
      canvas_.fillGradient(Area{track.x, track.y, track.width * e.percent / 100, track.height}, kBarTop, kBarBottom, radius);
    }
    canvas_.strokeRoundedRect(track, radius, std::max(1.0, s_ / 2), kTrackEdge);
  }

  void missingGlyphs(std::u32string_view chars) {
    for (const char32_t c : chars) {
      if (fonts_.hasGlyph(c) || c == U'\uFFFD' || !reportedGlyphs_.insert(c).second) continue;
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      problems_.push_back(std::string("no font has the character ") + code);
    }
  }

  Canvas& canvas_;
  const Fonts& fonts_;
  double s_;
  std::vector<std::string>& problems_;
  std::map<std::string, std::optional<RgbImage>> pictures_;
  std::set<char32_t> reportedGlyphs_;
};

}  // namespace

Rendering RenderScreen(const ScreenPicture& screen, const RenderOptions& options) {
  const double s = options.scale;
  const Fonts fonts(options.fontFiles.empty() ? DefaultFontFiles() : options.fontFiles, kFontSize * s);
  const WindowPicture& w = screen.window;
  // The window draws a title bar unless it is a sheet; a sheet hangs from the window's title bar,
  // an alert panel stands a little lower, both centred.
  const bool windowBar = w.kind != WindowPicture::Kind::Sheet;
  const double windowHeight = w.size.height + (windowBar ? kTitleBarHeight : 0);
  double overLeft = 0;
  double overTop = 0;
  double overHeight = 0;
  if (screen.over) {
    const bool sheet = screen.over->kind == WindowPicture::Kind::Sheet;
    overLeft = (w.size.width - screen.over->size.width) / 2;
    overTop = windowBar ? kTitleBarHeight + (sheet ? 0 : 40) : 0;
    overHeight = screen.over->size.height + (sheet ? 0 : kTitleBarHeight);
  }
  // Room for both, and for the shadow of what lies over the window.
  const double margin = screen.over ? 10 : 0;
  const double left = std::min(0.0, overLeft - margin);
  const double right = std::max(w.size.width, screen.over ? overLeft + screen.over->size.width + margin : 0.0);
  const double bottom = std::max(windowHeight, overTop + overHeight + margin);
  Canvas canvas(static_cast<int>(std::ceil((right - left) * s)), static_cast<int>(std::ceil(bottom * s)), kBackground);

  Rendering out;
  Painter painter(canvas, fonts, s, out.problems);
  painter.window(w, -left, 0, windowBar, !screen.over);
  if (screen.over) {
    painter.window(*screen.over, overLeft - left, overTop, screen.over->kind != WindowPicture::Kind::Sheet, true);
  }
  out.image = canvas.image();
  return out;
}

}  // namespace mac::render
