#pragma once
// An RGB picture in memory with the few shapes a window is drawn from (rectangles, rounded
// rectangles and circles with smoothed edges, gradients, scaled pictures), and its way in and out:
// JPEG in (libjpeg), PNG out (zlib). Coordinates are pixels from the top left corner; shapes take
// fractional ones.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mac::render {

struct Color {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  bool operator==(const Color&) const = default;
};

struct Area {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // rows top to bottom, three bytes a pixel
};

class Canvas {
 public:
  Canvas(int width, int height, Color background);

  int width() const { return image_.width; }
  int height() const { return image_.height; }
  const RgbImage& image() const { return image_; }
  Color at(int x, int y) const;

  // Mixes `color` into one pixel by `coverage` (0 to 1); outside the picture or the clip, nothing.
  void blend(int x, int y, Color color, double coverage);
  // Drawing is kept inside `area` until the clip is reset (whole pixels, the partly covered included).
  void setClip(const Area& area);
  void resetClip();

  void fillRect(const Area& area, Color color);
  // From `top` at the upper edge to `bottom` at the lower one; the corners rounded, or those of
  // `shape` where part of a larger rounded shape is filled.
  void fillGradient(const Area& area, Color top, Color bottom, double radius = 0, const Area* shape = nullptr);
  void fillRoundedRect(const Area& area, double radius, Color color) { fillGradient(area, color, color, radius); }
  // A line of `width` along the inside of the rounded rectangle's edge.
  void strokeRoundedRect(const Area& area, double radius, double width, Color color, double opacity = 1);
  void fillCircle(double cx, double cy, double radius, Color color);
  // The picture scaled to `area` (smoothed both ways).
  void drawImage(const RgbImage& picture, const Area& area);

 private:
  RgbImage image_;
  int clipLeft_ = 0;
  int clipTop_ = 0;
  int clipRight_ = 0;
  int clipBottom_ = 0;
};

// Nothing, with `error`, for bytes that are no JPEG libjpeg can read.
std::optional<RgbImage> DecodeJpeg(const std::vector<uint8_t>& bytes, std::string& error);

std::vector<uint8_t> EncodePng(const RgbImage& image);

}  // namespace mac::render
