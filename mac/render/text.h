#pragma once
// Text for the pictures: outline fonts through FreeType, in order of preference, each character
// from the first font that has it (a Latin font first, then one with the Japanese characters), at
// one size; lines wrapped to a width where a Mac would wrap them: after blanks, and between Japanese
// characters except before closing punctuation and small kana or after an opening bracket (the
// Japanese comma and full stop hang past the edge instead).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mac/render/canvas.h"

namespace mac::render {

// The fonts of Debian's fonts-dejavu-core and fonts-ipafont-gothic.
std::vector<std::string> DefaultFontFiles();

class Fonts {
 public:
  // Throws std::runtime_error naming the file for a font that cannot be loaded.
  Fonts(const std::vector<std::string>& files, double pixelSize);
  Fonts(const Fonts&) = delete;
  Fonts& operator=(const Fonts&) = delete;
  ~Fonts();

  double pixelSize() const { return pixelSize_; }
  // Of the first font, in pixels.
  double ascent() const { return ascent_; }
  double descent() const { return descent_; }

  double advance(char32_t c) const;
  bool hasGlyph(char32_t c) const;
  // With tab stops every `tabInterval` pixels from the start of the line.
  double width(std::u32string_view line, double tabInterval) const;
  // Draws the line with its baseline at `baseline`, starting at `x`.
  void draw(Canvas& canvas, double x, double baseline, std::u32string_view line, Color color, double tabInterval) const;
  // The lines of `text` within `maxWidth`: breaks at line feeds, then where the text may wrap; a run
  // that is wider than a line on its own is broken between characters.
  std::vector<std::u32string> wrap(std::u32string_view text, double maxWidth, double tabInterval) const;

 private:
  struct Face;
  const Face* faceFor(char32_t c) const;

  struct Library;
  std::unique_ptr<Library> library_;
  std::vector<std::unique_ptr<Face>> faces_;
  double pixelSize_;
  double ascent_ = 0;
  double descent_ = 0;
};

// UTF-8 to code points; a byte that starts no valid sequence becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view text);

}  // namespace mac::render
