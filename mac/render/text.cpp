#include "mac/render/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

namespace mac::render {

struct Fonts::Library {
  FT_Library handle = nullptr;
  Library() {
    if (FT_Init_FreeType(&handle) != 0) throw std::runtime_error("FreeType cannot be started");
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() { FT_Done_FreeType(handle); }
};

struct Fonts::Face {
  FT_Face handle = nullptr;
  mutable std::unordered_map<char32_t, double> advances;
  Face(FT_Library library, const std::string& file, double pixelSize) {
    if (FT_New_Face(library, file.c_str(), 0, &handle) != 0) {
      throw std::runtime_error("the font " + file + " cannot be loaded");
    }
    const auto size = static_cast<FT_F26Dot6>(std::lround(pixelSize * 64));
    if (FT_Set_Char_Size(handle, 0, size, 72, 72) != 0) {
      FT_Done_Face(handle);
      throw std::runtime_error("the font " + file + " has no size of " + std::to_string(pixelSize) + " pixels");
    }
  }
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;
  ~Face() { FT_Done_Face(handle); }
};

namespace {

bool IsWide(char32_t c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF);
}

// Never at the start of a line: closing punctuation, small kana, the prolonged sound mark.
bool NoLineStart(char32_t c) {
  static constexpr std::u32string_view kChars = U"、。，．）」』】〕〉》］｝！？：；・ーぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ々ゝゞヽヾ,.)]}!?:;%";
  return kChars.find(c) != std::u32string_view::npos;
}

// The Japanese comma and full stop hang past the edge of a full line instead of pushing a character
// down with them.
bool Hangs(char32_t c) { return c == U'、' || c == U'。' || c == U'，' || c == U'．'; }

// Never at the end of a line: opening brackets.
bool NoLineEnd(char32_t c) {
  static constexpr std::u32string_view kChars = U"（「『【〔〈《［｛([{";
  return kChars.find(c) != std::u32string_view::npos;
}

// Whether a line may end between `before` and `after` (blanks are handled by the caller).
bool MayBreakBetween(char32_t before, char32_t after) {
  if (NoLineStart(after) || NoLineEnd(before)) return false;
  return IsWide(before) || IsWide(after);
}

// The last place where `line` may end before its last character (a length of the line), 0 for none.
size_t LastBreak(std::u32string_view line) {
  for (size_t p = line.size() - 1; p > 0; --p) {
    const char32_t before = line[p - 1];
    const char32_t after = line[p];
    if (after == U' ') continue;
    if (before == U' ' || MayBreakBetween(before, after)) return p;
  }
  return 0;
}

double NextTab(double x, double interval) { return (std::floor(x / interval + 1e-9) + 1) * interval; }

}  // namespace

std::vector<std::string> DefaultFontFiles() {
  return {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"};
}

Fonts::Fonts(const std::vector<std::string>& files, double pixelSize)
    : library_(std::make_unique<Library>()), pixelSize_(pixelSize) {
  if (files.empty()) throw std::runtime_error("no font to draw text with");
  for (const std::string& file : files) faces_.push_back(std::make_unique<Face>(library_->handle, file, pixelSize));
  const FT_Size_Metrics& m = faces_.front()->handle->size->metrics;
  ascent_ = static_cast<double>(m.ascender) / 64.0;
  descent_ = -static_cast<double>(m.descender) / 64.0;
}

Fonts::~Fonts() = default;

const Fonts::Face* Fonts::faceFor(char32_t c) const {
  for (const auto& face : faces_) {
    if (FT_Get_Char_Index(face->handle, c) != 0) return face.get();
  }
  return nullptr;
}

bool Fonts::hasGlyph(char32_t c) const { return c == U'\t' || c == U'\n' || faceFor(c) != nullptr; }

double Fonts::advance(char32_t c) const {
  const Face* face = faceFor(c);
  if (!face) face = faces_.front().get();
  if (const auto it = face->advances.find(c); it != face->advances.end()) return it->second;
  double advance = 0;
  if (FT_Load_Char(face->handle, c, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0) {
    advance = static_cast<double>(face->handle->glyph->linearHoriAdvance) / 65536.0;
  }
  face->advances.emplace(c, advance);
  return advance;
}

double Fonts::width(std::u32string_view line, double tabInterval) const {
  double x = 0;
  for (const char32_t c : line) x = c == U'\t' ? NextTab(x, tabInterval) : x + advance(c);
  return x;
}

void Fonts::draw(Canvas& canvas, double x, double baseline, std::u32string_view line, Color color, double tabInterval) const {
  double pen = 0;
  for (const char32_t c : line) {
    if (c == U'\t') {
      pen = NextTab(pen, tabInterval);
      continue;
    }
    const Face* face = faceFor(c);
    if (!face) face = faces_.front().get();
    if (FT_Load_Char(face->handle, c, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT | FT_LOAD_NO_BITMAP) == 0) {
      const FT_GlyphSlot glyph = face->handle->glyph;
      const FT_Bitmap& bitmap = glyph->bitmap;
      const int left = static_cast<int>(std::lround(x + pen)) + glyph->bitmap_left;
      const int top = static_cast<int>(std::lround(baseline)) - glyph->bitmap_top;
      for (unsigned row = 0; row < bitmap.rows; ++row) {
        for (unsigned column = 0; column < bitmap.width; ++column) {
          const uint8_t value = bitmap.buffer[static_cast<int>(row) * bitmap.pitch + static_cast<int>(column)];
          canvas.blend(left + static_cast<int>(column), top + static_cast<int>(row), color, value / 255.0);
        }
      }
    }
    pen += advance(c);
  }
}

std::vector<std::u32string> Fonts::wrap(std::u32string_view text, double maxWidth, double tabInterval) const {
  std::vector<std::u32string> lines;
  auto push = [&lines](std::u32string line) {
    while (!line.empty() && line.back() == U' ') line.pop_back();
    lines.push_back(std::move(line));
  };
  size_t start = 0;
  while (true) {
    const size_t end = std::min(text.find(U'\n', start), text.size());
    std::u32string line;
    for (const char32_t c : text.substr(start, end - start)) {
      line.push_back(c);
      // Blanks may hang past the edge.
      if (c == U' ' || Hangs(c) || line.size() == 1 || width(line, tabInterval) <= maxWidth) continue;
      size_t at = LastBreak(line);
      if (at == 0) at = line.size() - 1;  // nowhere to wrap: before this character
      std::u32string rest = line.substr(at);
      line.resize(at);
      push(std::move(line));
      line = std::move(rest);
      // A run wider than a line on its own is broken between characters.
      while (line.size() > 1 && width(line, tabInterval) > maxWidth) {
        size_t fit = 1;
        while (width(std::u32string_view(line).substr(0, fit + 1), tabInterval) <= maxWidth) ++fit;
        push(line.substr(0, fit));
        line.erase(0, fit);
      }
    }
    push(std::move(line));
    if (end == text.size()) break;
    start = end + 1;
  }
  return lines;
}

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
    bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3Fu);
    }
    if (valid && ((length == 2 && c < 0x80) || (length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
                  (c >= 0xD800 && c <= 0xDFFF))) {
      valid = false;
    }
    if (!valid) {
      out.push_back(U'\uFFFD');
      ++i;
      continue;
    }
    out.push_back(c);
    i += static_cast<size_t>(length);
  }
  return out;
}

}  // namespace mac::render
