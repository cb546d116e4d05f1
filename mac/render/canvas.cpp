#include "mac/render/canvas.h"

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace mac::render {

namespace {

uint8_t Mix(uint8_t under, uint8_t over, double coverage) {
  return static_cast<uint8_t>(std::lround(under + (over - under) * coverage));
}

// Signed distance from a pixel's centre to the rounded rectangle's edge: negative inside.
double Distance(double px, double py, const Area& a, double radius) {
  const double hx = a.width / 2;
  const double hy = a.height / 2;
  const double r = std::max(0.0, std::min({radius, hx, hy}));
  const double qx = std::abs(px - (a.x + hx)) - (hx - r);
  const double qy = std::abs(py - (a.y + hy)) - (hy - r);
  const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
  const double inside = std::min(std::max(qx, qy), 0.0);
  return outside + inside - r;
}

double Coverage(double distance) { return std::clamp(0.5 - distance, 0.0, 1.0); }

// One dimension of a smoothed resampling: a tent as wide as a source pixel, or as the share of the
// source one target pixel stands for when shrinking.
std::vector<float> Resample(const std::vector<float>& in, int inWidth, int inHeight, int outWidth, bool alongRows) {
  const int lines = alongRows ? inHeight : inWidth;
  const int from = alongRows ? inWidth : inHeight;
  std::vector<float> out(static_cast<size_t>(outWidth) * lines * 3);
  const double ratio = static_cast<double>(from) / outWidth;
  const double support = std::max(1.0, ratio);
  for (int i = 0; i < outWidth; ++i) {
    const double centre = (i + 0.5) * ratio - 0.5;
    const int first = static_cast<int>(std::ceil(centre - support));
    const int last = static_cast<int>(std::floor(centre + support));
    std::vector<std::pair<int, float>> taps;
    double total = 0;
    for (int j = first; j <= last; ++j) {
      const double w = 1.0 - std::abs(j - centre) / support;
      if (w <= 0) continue;
      taps.emplace_back(std::clamp(j, 0, from - 1), static_cast<float>(w));
      total += w;
    }
    for (auto& tap : taps) tap.second = static_cast<float>(tap.second / total);
    for (int line = 0; line < lines; ++line) {
      float sum[3] = {0, 0, 0};
      for (const auto& [j, w] : taps) {
        const size_t at = alongRows ? (static_cast<size_t>(line) * inWidth + j) * 3 : (static_cast<size_t>(j) * inWidth + line) * 3;
        for (int c = 0; c < 3; ++c) sum[c] += in[at + c] * w;
      }
      const size_t to = alongRows ? (static_cast<size_t>(line) * outWidth + i) * 3 : (static_cast<size_t>(i) * inWidth + line) * 3;
      for (int c = 0; c < 3; ++c) out[to + c] = sum[c];
    }
  }
  return out;
}

}  // namespace

Canvas::Canvas(int width, int height, Color background) {
  image_.width = std::max(width, 1);
  image_.height = std::max(height, 1);
  image_.pixels.resize(static_cast<size_t>(image_.width) * image_.height * 3);
  for (size_t i = 0; i < image_.pixels.size(); i += 3) {
    image_.pixels[i] = background.r;
    image_.pixels[i + 1] = background.g;
    image_.pixels[i + 2] = background.b;
  }
  resetClip();
}

Color Canvas::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) return {};
  const size_t i = (static_cast<size_t>(y) * image_.width + x) * 3;
  return Color{image_.pixels[i], image_.pixels[i + 1], image_.pixels[i + 2]};
}

void Canvas::blend(int x, int y, Color color, double coverage) {
  if (x < clipLeft_ || y < clipTop_ || x >= clipRight_ || y >= clipBottom_ || coverage <= 0) return;
  coverage = std::min(coverage, 1.0);
  uint8_t* p = &image_.pixels[(static_cast<size_t>(y) * image_.width + x) * 3];
  p[0] = Mix(p[0], color.r, coverage);
  p[1] = Mix(p[1], color.g, coverage);
  p[2] = Mix(p[2], color.b, coverage);
}

void Canvas::setClip(const Area& area) {
  clipLeft_ = std::max(0, static_cast<int>(std::floor(area.x)));
  clipTop_ = std::max(0, static_cast<int>(std::floor(area.y)));
  clipRight_ = std::min(image_.width, static_cast<int>(std::ceil(area.x + area.width)));
  clipBottom_ = std::min(image_.height, static_cast<int>(std::ceil(area.y + area.height)));
}

void Canvas::resetClip() {
  clipLeft_ = clipTop_ = 0;
  clipRight_ = image_.width;
  clipBottom_ = image_.height;
}

void Canvas::fillRect(const Area& area, Color color) { fillGradient(area, color, color, 0); }

void Canvas::fillGradient(const Area& area, Color top, Color bottom, double radius, const Area* shape) {
  if (area.width <= 0 || area.height <= 0) return;
  const int x0 = static_cast<int>(std::floor(area.x));
  const int x1 = static_cast<int>(std::ceil(area.x + area.width));
  const int y0 = static_cast<int>(std::floor(area.y));
  const int y1 = static_cast<int>(std::ceil(area.y + area.height));
  for (int y = y0; y < y1; ++y) {
    const double t = std::clamp((y + 0.5 - area.y) / area.height, 0.0, 1.0);
    const Color c{Mix(top.r, bottom.r, t), Mix(top.g, bottom.g, t), Mix(top.b, bottom.b, t)};
    for (int x = x0; x < x1; ++x) {
      const double inside = Coverage(Distance(x + 0.5, y + 0.5, area, shape ? 0 : radius));
      blend(x, y, c, shape ? std::min(inside, Coverage(Distance(x + 0.5, y + 0.5, *shape, radius))) : inside);
    }
  }
}

void Canvas::strokeRoundedRect(const Area& area, double radius, double width, Color color, double opacity) {
  const int x0 = static_cast<int>(std::floor(area.x));
  const int x1 = static_cast<int>(std::ceil(area.x + area.width));
  const int y0 = static_cast<int>(std::floor(area.y));
  const int y1 = static_cast<int>(std::ceil(area.y + area.height));
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const double d = Distance(x + 0.5, y + 0.5, area, radius);
      blend(x, y, color, (Coverage(d) - Coverage(d + width)) * opacity);
    }
  }
}

void Canvas::fillCircle(double cx, double cy, double radius, Color color) {
  const int x0 = static_cast<int>(std::floor(cx - radius));
  const int x1 = static_cast<int>(std::ceil(cx + radius));
  const int y0 = static_cast<int>(std::floor(cy - radius));
  const int y1 = static_cast<int>(std::ceil(cy + radius));
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) blend(x, y, color, Coverage(std::hypot(x + 0.5 - cx, y + 0.5 - cy) - radius));
  }
}

void Canvas::drawImage(const RgbImage& picture, const Area& area) {
  const int w = static_cast<int>(std::lround(area.width));
  const int h = static_cast<int>(std::lround(area.height));
  if (w <= 0 || h <= 0 || picture.width <= 0 || picture.height <= 0) return;
  std::vector<float> source(picture.pixels.begin(), picture.pixels.end());
  const std::vector<float> wide = Resample(source, picture.width, picture.height, w, true);
  const std::vector<float> done = Resample(wide, w, picture.height, h, false);
  const int left = static_cast<int>(std::lround(area.x));
  const int top = static_cast<int>(std::lround(area.y));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const float* p = &done[(static_cast<size_t>(y) * w + x) * 3];
      auto channel = [](float v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 255.0f))); };
      blend(left + x, top + y, Color{channel(p[0]), channel(p[1]), channel(p[2])}, 1.0);
    }
  }
}

// ---- JPEG ----

namespace {

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

void OnJpegWarning(j_common_ptr, int) {}

// libjpeg leaves by longjmp on an error: nothing with a destructor may live in this frame between
// the setjmp and the end, so the decoder and the rows are the caller's.
bool Decode(jpeg_decompress_struct& info, JpegErrors& errors, const std::vector<uint8_t>& bytes, RgbImage& out) {
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = OnJpegError;
  errors.manager.emit_message = OnJpegWarning;
  errors.message[0] = '\0';
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  out.width = static_cast<int>(info.output_width);
  out.height = static_cast<int>(info.output_height);
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &out.pixels[static_cast<size_t>(info.output_scanline) * out.width * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

std::optional<RgbImage> DecodeJpeg(const std::vector<uint8_t>& bytes, std::string& error) {
  if (bytes.empty()) {
    error = "the file is empty";
    return std::nullopt;
  }
  jpeg_decompress_struct info{};
  JpegErrors errors{};
  RgbImage out;
  if (!Decode(info, errors, bytes, out)) {
    error = errors.message[0] ? errors.message : "not a JPEG picture";
    return std::nullopt;
  }
  return out;
}

// ---- PNG ----

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0L, &out[start], static_cast<uInt>(out.size() - start));
  Put32(out, static_cast<uint32_t>(crc));
}

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

}  // namespace

std::vector<uint8_t> EncodePng(const RgbImage& image) {
  const size_t stride = static_cast<size_t>(image.width) * 3;
  // Each row with the filter that leaves the smallest differences, the usual rule of thumb.
  std::vector<uint8_t> raw;
  raw.reserve((stride + 1) * image.height);
  std::vector<uint8_t> candidate(stride);
  std::vector<uint8_t> best(stride);
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* row = &image.pixels[y * stride];
    const uint8_t* up = y > 0 ? row - stride : nullptr;
    uint64_t bestCost = UINT64_MAX;
    uint8_t bestFilter = 0;
    for (uint8_t filter = 0; filter < 5; ++filter) {
      uint64_t cost = 0;
      for (size_t i = 0; i < stride; ++i) {
        const int a = i >= 3 ? row[i - 3] : 0;
        const int b = up ? up[i] : 0;
        const int c = i >= 3 && up ? up[i - 3] : 0;
        int predicted = 0;
        if (filter == 1) predicted = a;
        else if (filter == 2) predicted = b;
        else if (filter == 3) predicted = (a + b) / 2;
        else if (filter == 4) predicted = Paeth(a, b, c);
        candidate[i] = static_cast<uint8_t>(row[i] - predicted);
        cost += static_cast<uint64_t>(std::abs(static_cast<int8_t>(candidate[i])));
      }
      if (cost < bestCost) {
        bestCost = cost;
        bestFilter = filter;
        best.swap(candidate);
      }
    }
    raw.push_back(bestFilter);
    raw.insert(raw.end(), best.begin(), best.end());
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) {
    throw std::runtime_error("the picture cannot be compressed (out of memory)");
  }
  packed.resize(packedSize);

  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Put32(header, static_cast<uint32_t>(image.width));
  Put32(header, static_cast<uint32_t>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, not interlaced
  Chunk(out, "IHDR", header);
  Chunk(out, "IDAT", packed);
  Chunk(out, "IEND", {});
  return out;
}

}  // namespace mac::render
