#include "mac/render/render.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "mac/render/text.h"

namespace mac::render {
namespace {

bool FontsInstalled(const std::vector<std::string>& files) {
  for (const std::string& f : files) {
    if (!std::filesystem::exists(f)) return false;
  }
  return true;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Fonts whose characters are all one width (6.02 pixels Latin, 10 Japanese), so that where the
// lines break can be worked out by hand.
const std::vector<std::string> kMonospaced = {"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
                                              "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"};

TEST(RenderText, LinesBreakWhereAMacBreaksThem) {
  if (!FontsInstalled(kMonospaced)) GTEST_SKIP() << "fonts-dejavu-core and fonts-ipafont-gothic are not installed";
  const Fonts fonts(kMonospaced, 10);
  struct Case {
    std::u32string text;
    double width;
    std::vector<std::u32string> lines;
  };
  const Case cases[] = {
      {U"aaa bbb ccc", 45, {U"aaa bbb", U"ccc"}},        // at the blank; 7 characters are 42 pixels
      {U"aaa bbb ccc", 42.2, {U"aaa bbb", U"ccc"}},      // the line exactly full
      {U"abcdefghij", 30, {U"abcd", U"efgh", U"ij"}},    // a word wider than a line
      {U"a\n\nb", 100, {U"a", U"", U"b"}},               // line feeds, an empty line kept
      {U" New version", 200, {U" New version"}},         // a leading blank stays
      {U"aaaa       bbbb", 30, {U"aaaa", U"bbbb"}},      // blanks hang past the edge
      {U"あいうえお。かきく", 50, {U"あいうえお。", U"かきく"}},  // "。" hangs past the edge
      {U"あいうえょかき", 40, {U"あいう", U"えょかき"}},           // "ょ" never first: "え" goes down
      {U"「あいう」えお", 40, {U"「あい", U"う」えお"}},        // nor "」" first, nor "「" last
      {U"ZT-5100をコンピューター", 70, {U"ZT-5100をコ", U"ンピューター"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()).size());
    EXPECT_EQ(fonts.wrap(c.text, c.width, 28), c.lines);
  }
  EXPECT_NEAR(fonts.width(U"a\tb", 28), 28 + 6.02, 0.01);
  EXPECT_NEAR(fonts.width(U"abcde\tb", 28), 56 + 6.02, 0.01) << "past a stop, to the next one";
}

TEST(RenderText, Utf8IsDecodedAndBrokenBytesAreMarked) {
  EXPECT_EQ(DecodeUtf8("a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80"), U"a\u00E9\u3042\U0001F600");
  EXPECT_EQ(DecodeUtf8("\xE3\x81"), U"\uFFFD\uFFFD");                 // cut short
  EXPECT_EQ(DecodeUtf8("\xC0\xAF"), U"\uFFFD\uFFFD");                 // an overlong "/"
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80x"), U"\uFFFD\uFFFD\uFFFDx");     // a surrogate
}

// ---- whole pictures ----

PictureElement Text(Rect frame, std::string text) {
  PictureElement e;
  e.frame = frame;
  e.text = std::move(text);
  return e;
}
PictureElement ButtonAt(Rect frame, std::string title, bool enabled, bool isDefault) {
  PictureElement e = Text(frame, std::move(title));
  e.kind = PictureElement::Kind::Button;
  e.enabled = enabled;
  e.isDefault = isDefault;
  return e;
}

class RenderScreenTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!FontsInstalled(DefaultFontFiles())) GTEST_SKIP() << "fonts-dejavu-core and fonts-ipafont-gothic are not installed";
  }
  // The window's pixel at a point of its content (y from the bottom, as frames count).
  static Color At(const Rendering& r, double scale, double contentHeight, double x, double y) {
    const int px = static_cast<int>(x * scale);
    const int py = static_cast<int>((kTitleBarHeight + contentHeight - y) * scale);
    const size_t i = (static_cast<size_t>(py) * r.image.width + px) * 3;
    return Color{r.image.pixels[i], r.image.pixels[i + 1], r.image.pixels[i + 2]};
  }
  // Whether any pixel of the content's rectangle is darker than the window.
  static bool Inked(const Rendering& r, double scale, double contentHeight, Rect area) {
    for (double y = area.origin.y; y < area.origin.y + area.size.height; y += 0.5) {
      for (double x = area.origin.x; x < area.origin.x + area.size.width; x += 0.5) {
        if (At(r, scale, contentHeight, x, y).g < 150) return true;
      }
    }
    return false;
  }
  static bool Blue(Color c) { return c.b > 200 && c.r < 150; }
};

TEST_F(RenderScreenTest, TextsButtonsAndTheirStatesAreWhereTheFramesSay) {
  ScreenPicture screen;
  screen.window.title = "Firmware update program";
  screen.window.size = {400, 200};
  screen.window.elements = {
      Text({{20, 150}, {260, 34}}, "The ZT-5100 connection is detected.\nファームウェアをアップデートします。"),
      Text({{20, 100}, {260, 20}}, ""),
      ButtonAt({{20, 12}, {96, 32}}, "Cancel", true, false),
      ButtonAt({{110, 12}, {96, 32}}, "Start", true, true),
      ButtonAt({{200, 12}, {96, 32}}, "Next", false, true),
  };
  for (const double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    const Rendering r = RenderScreen(screen, {scale, {}});
    EXPECT_EQ(r.image.width, 400 * scale);
    EXPECT_EQ(r.image.height, (200 + kTitleBarHeight) * scale);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_TRUE(Inked(r, scale, 200, {{20, 167}, {200, 17}})) << "the English line";
    EXPECT_TRUE(Inked(r, scale, 200, {{20, 150}, {200, 17}})) << "the Japanese line";
    EXPECT_FALSE(Inked(r, scale, 200, {{20, 100}, {260, 20}})) << "the empty text";
    EXPECT_FALSE(Inked(r, scale, 200, {{20, 121}, {260, 28}})) << "between the texts";
    EXPECT_FALSE(Blue(At(r, scale, 200, 30, 28))) << "a plain button";
    EXPECT_TRUE(Blue(At(r, scale, 200, 120, 28))) << "the default button";
    EXPECT_FALSE(Blue(At(r, scale, 200, 210, 28))) << "the default button, disabled";
    EXPECT_TRUE(Inked(r, scale, 200, {{40, 20}, {60, 16}})) << "a button's title";
  }
}

TEST_F(RenderScreenTest, WhatDoesNotFitIsReported) {
  struct Case {
    const char* what;
    PictureElement element;
    const char* problem;  // the start of it; nullptr: none
  };
  PictureElement missing;
  missing.kind = PictureElement::Kind::Image;
  missing.frame = {{0, 0}, {50, 50}};
  missing.file = "/nonexistent/wizard9.jpg";
  const Case cases[] = {
      {"two lines in two", Text({{0, 0}, {300, 34}}, "one\ntwo"), nullptr},
      {"two lines in one", Text({{0, 0}, {300, 20}}, "one\ntwo"), "the text \"one two\" needs 2 lines, its frame holds 1"},
      {"wrapped past the frame", Text({{0, 0}, {60, 17}}, "Updating the firmware."), "the text \"Updating the firmware.\" needs"},
      {"a title that fits", ButtonAt({{0, 0}, {96, 32}}, "キャンセル", true, false), nullptr},
      {"a long title", ButtonAt({{0, 0}, {60, 32}}, "Cancel the update", true, false), "the button title \"Cancel the update\" is wider"},
      {"no such picture", missing, "the picture /nonexistent/wizard9.jpg cannot be drawn"},
      {"no glyph", Text({{0, 0}, {300, 20}}, "\xF3\xB0\x80\x80"), "no font has the character U+F0000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScreenPicture screen;
    screen.window.size = {300, 100};
    screen.window.elements = {c.element};
    const Rendering r = RenderScreen(screen, {1, {}});
    if (!c.problem) {
      EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    } else {
      ASSERT_EQ(r.problems.size(), 1u);
      EXPECT_TRUE(r.problems[0].starts_with(c.problem)) << r.problems[0];
    }
  }
}

TEST_F(RenderScreenTest, ThePictureIsScaledDownToItsFrameAndCentred) {
  ScreenPicture screen;
  screen.window.size = {200, 300};
  PictureElement picture;
  picture.kind = PictureElement::Kind::Image;
  picture.frame = {{20, 10}, {160, 280}};
  picture.file = ZT_TEST_PICTURE;  // 400 x 233 points: 160 x 93 in the frame
  screen.window.elements = {picture};
  const Rendering r = RenderScreen(screen, {2, {}});
  ASSERT_TRUE(r.problems.empty()) << r.problems.front();
  const Color window = At(r, 2, 300, 5, 150);
  auto differs = [&](double x, double y) { return At(r, 2, 300, x, y) != window; };
  EXPECT_TRUE(differs(100, 150));
  EXPECT_TRUE(differs(25, 150)) << "as wide as the frame";
  EXPECT_FALSE(differs(100, 205)) << "above the picture";
  EXPECT_FALSE(differs(100, 95)) << "below the picture";
}

TEST_F(RenderScreenTest, ASheetHangsFromTheTitleBarOverTheWindow) {
  ScreenPicture screen;
  screen.window.size = {560, 380};
  screen.window.elements = {ButtonAt({{444, 12}, {96, 32}}, "Start", true, true)};
  WindowPicture sheet;
  sheet.kind = WindowPicture::Kind::Sheet;
  sheet.size = {420, 120};
  PictureElement bar;
  bar.kind = PictureElement::Kind::Progress;
  bar.frame = {{20, 50}, {380, 20}};
  bar.percent = 50;
  sheet.elements = {Text({{20, 80}, {380, 20}}, "Updating the firmware."), bar};
  screen.over = sheet;
  const Rendering r = RenderScreen(screen, {1, {}});
  EXPECT_EQ(r.image.width, 560);
  EXPECT_EQ(r.image.height, 380 + kTitleBarHeight);
  // The sheet's left edge is at 70; its text's first line at the sheet's top.
  EXPECT_TRUE(Inked(r, 1, 380, {{90, 380 - 40}, {200, 17}}));
  EXPECT_TRUE(Blue(At(r, 1, 380, 70 + 20 + 50, 380 - 60))) << "the bar filled to its middle";
  EXPECT_FALSE(Blue(At(r, 1, 380, 70 + 20 + 330, 380 - 60))) << "and no further";
  EXPECT_FALSE(Blue(At(r, 1, 380, 460, 28))) << "the window's default button waits under the sheet";
}

// ---- the files ----

// The pixels back from a PNG: its chunks, their checksums, and the rows unfiltered.
std::optional<RgbImage> ReadPng(const std::vector<uint8_t>& png) {
  const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || !std::equal(signature, signature + 8, png.begin())) return std::nullopt;
  auto get32 = [&](size_t at) { return uint32_t{png[at]} << 24 | uint32_t{png[at + 1]} << 16 | uint32_t{png[at + 2]} << 8 | png[at + 3]; };
  RgbImage image;
  std::vector<uint8_t> packed;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = get32(at);
    const std::string type(png.begin() + static_cast<long>(at) + 4, png.begin() + static_cast<long>(at) + 8);
    if (crc32(0, &png[at + 4], length + 4) != get32(at + 8 + length)) return std::nullopt;
    if (type == "IHDR") {
      image.width = static_cast<int>(get32(at + 8));
      image.height = static_cast<int>(get32(at + 12));
      if (png[at + 16] != 8 || png[at + 17] != 2) return std::nullopt;
    } else if (type == "IDAT") {
      packed.insert(packed.end(), png.begin() + static_cast<long>(at) + 8, png.begin() + static_cast<long>(at + 8 + length));
    }
    at += 12 + length;
  }
  const size_t stride = static_cast<size_t>(image.width) * 3;
  std::vector<uint8_t> raw((stride + 1) * image.height);
  uLongf size = raw.size();
  if (uncompress(raw.data(), &size, packed.data(), packed.size()) != Z_OK || size != raw.size()) return std::nullopt;
  image.pixels.resize(stride * image.height);
  for (int y = 0; y < image.height; ++y) {
    const uint8_t filter = raw[y * (stride + 1)];
    const uint8_t* in = &raw[y * (stride + 1) + 1];
    uint8_t* row = &image.pixels[y * stride];
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= 3 ? row[i - 3] : 0;
      const int b = y > 0 ? row[i - stride] : 0;
      const int c = i >= 3 && y > 0 ? row[i - stride - 3] : 0;
      const int p = a + b - c;
      const int paeth = std::abs(p - a) <= std::abs(p - b) && std::abs(p - a) <= std::abs(p - c) ? a : std::abs(p - b) <= std::abs(p - c) ? b : c;
      const int predicted = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : paeth;
      row[i] = static_cast<uint8_t>(in[i] + predicted);
    }
  }
  return image;
}

TEST(RenderFiles, APngGivesBackEveryPixel) {
  // Flat areas, gradients and noise, so that every row filter gets its turn.
  RgbImage image{37, 23, {}};
  uint32_t noise = 12345;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      noise = noise * 1103515245 + 12345;
      const bool flat = y < 6;
      image.pixels.push_back(flat ? 200 : static_cast<uint8_t>(x * 7));
      image.pixels.push_back(flat ? 200 : static_cast<uint8_t>(y * 11 + x));
      image.pixels.push_back(y > 15 ? static_cast<uint8_t>(noise >> 16) : 90);
    }
  }
  const auto back = ReadPng(EncodePng(image));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->width, 37);
  EXPECT_EQ(back->height, 23);
  EXPECT_EQ(back->pixels, image.pixels);
}

TEST(RenderFiles, TheWizardPictureIsReadAndOtherBytesAreRefused) {
  std::string error;
  const auto picture = DecodeJpeg(ReadBytes(ZT_TEST_PICTURE), error);
  ASSERT_TRUE(picture) << error;
  EXPECT_EQ(picture->width, 400);
  EXPECT_EQ(picture->height, 233);
  EXPECT_EQ(picture->pixels.size(), 400u * 233 * 3);

  EXPECT_FALSE(DecodeJpeg(std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a'}, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(DecodeJpeg({}, error));
  EXPECT_EQ(error, "the file is empty");
}

}  // namespace
}  // namespace mac::render
