// The wizard pictures decoded and painted by the system's picture object, read back from a memory
// bitmap. quadrants.jpg is 64 x 32 with a different colour in each quarter, so that a picture drawn
// upside down, mirrored, shifted or scaled shows; it was made with
//   cjpeg -quality 95 -sample 1x1 quadrants.ppm > quadrants.jpg
// from a PPM holding the colours of kQuadrants below.
#include "win/shared/jpeg_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "win/framework/handles.h"
#include "win/shared/tests/picture_resources.h"

namespace {

constexpr int kCanvasWidth = 480;
constexpr int kCanvasHeight = 300;
constexpr uint32_t kBackground = 0x00FF00FF;  // magenta: no colour of the pictures

// A top-down 32-bit bitmap selected into a memory device context, read pixel by pixel as 0x00RRGGBB.
class Canvas {
 public:
  Canvas() : dc_(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kCanvasWidth;
    info.bmiHeader.biHeight = -kCanvasHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    if (bitmap_) previous_ = SelectObject(dc_, bitmap_);
    if (bits_) std::fill(bits_, bits_ + kCanvasWidth * kCanvasHeight, kBackground);
  }
  ~Canvas() {
    if (previous_) SelectObject(dc_, previous_);
    if (bitmap_) DeleteObject(bitmap_);
    if (dc_) DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ready() const { return dc_ && bits_; }
  HDC dc() const { return dc_; }
  RECT bounds() const { return {0, 0, kCanvasWidth, kCanvasHeight}; }
  uint32_t at(int x, int y) const {
    GdiFlush();
    return bits_[y * kCanvasWidth + x] & 0x00FFFFFF;
  }
  // The smallest rectangle holding every pixel that is no longer the background; empty when none is.
  RECT drawn() const {
    RECT box{kCanvasWidth, kCanvasHeight, 0, 0};
    for (int y = 0; y < kCanvasHeight; ++y)
      for (int x = 0; x < kCanvasWidth; ++x)
        if (at(x, y) != kBackground) box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                                            std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
    return box.left < box.right ? box : RECT{};
  }

 private:
  HDC dc_;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint32_t* bits_ = nullptr;
};

bool Near(uint32_t actual, uint32_t expected) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int a = static_cast<int>((actual >> shift) & 0xFF);
    const int e = static_cast<int>((expected >> shift) & 0xFF);
    if (std::abs(a - e) > 16) return false;
  }
  return true;
}

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

void ExpectEmpty(const CJpegData& picture) {
  EXPECT_FALSE(picture.Loaded());
  EXPECT_EQ(picture.Width(), 0);
  EXPECT_EQ(picture.Height(), 0);
  EXPECT_EQ(picture.HimetricWidth(), 0);
  EXPECT_EQ(picture.HimetricHeight(), 0);
  Canvas canvas;
  ASSERT_TRUE(canvas.ready());
  const RECT bounds = canvas.bounds();
  EXPECT_FALSE(picture.Render(canvas.dc(), 16, 16, &bounds));
  EXPECT_EQ(Describe(canvas.drawn()), Describe(RECT{})) << "drawn without a picture";
}

std::string Hex(uint32_t colour) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", colour);
  return text;
}

// A hidden window of the given module, as a page belongs to the module its template came from.
class Page {
 public:
  explicit Page(HMODULE module)
      : window_(CreateWindowExA(0, "STATIC", "page", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, module, nullptr)) {}
  ~Page() {
    if (window_) DestroyWindow(window_);
  }
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

// Wine gives a desktop the display driver of the process that first used it. Console tests share our
// Wine session and run without a display, so the default desktop may have none, and no window could
// be created on it; a desktop of our own is started with this process's display.
class OwnDesktop : public testing::Environment {
 public:
  void SetUp() override {
    previous_ = GetThreadDesktop(GetCurrentThreadId());
    const std::string name = "zt-winshared-" + std::to_string(GetCurrentProcessId());
    desktop_ = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(desktop_, nullptr);
    ASSERT_TRUE(SetThreadDesktop(desktop_));
  }
  void TearDown() override {
    if (desktop_ && SetThreadDesktop(previous_)) CloseDesktop(desktop_);
  }

 private:
  HDESK previous_ = nullptr;
  HDESK desktop_ = nullptr;
};
const testing::Environment* const kOwnDesktop = testing::AddGlobalTestEnvironment(new OwnDesktop);

class JpegDataTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OleInitialize(nullptr), S_OK); }
  void TearDown() override { OleUninitialize(); }
};

TEST_F(JpegDataTest, StartsEmptyAndDrawsNothing) { ExpectEmpty(CJpegData()); }

// Drawn at the pages' place, the drawing fills exactly the picture's own rectangle.
TEST_F(JpegDataTest, WizardPicturesKeepTheirPixelSize) {
  {
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpi, 96) << "the sizes below are those at 96 DPI";
  }
  struct Case {
    UINT id;
    int32_t width;
    int32_t height;
  };
  const Case cases[] = {
      {ZT_TEST_WIZARD1_JPEG, 400, 233},
      {ZT_TEST_WIZARD2_JPEG, 400, 232},
      {ZT_TEST_WIZARD4_JPEG, 394, 232},
  };
  constexpr int x = 40, y = 16;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    CJpegData picture;
    ASSERT_TRUE(picture.Load(nullptr, "BIN", c.id));
    EXPECT_EQ(picture.Width(), c.width);
    EXPECT_EQ(picture.Height(), c.height);
    EXPECT_GT(picture.HimetricWidth(), picture.Width());
    EXPECT_GT(picture.HimetricHeight(), picture.Height());

    Canvas canvas;
    ASSERT_TRUE(canvas.ready());
    const RECT bounds = canvas.bounds();
    ASSERT_TRUE(picture.Render(canvas.dc(), x, y, &bounds));
    EXPECT_EQ(Describe(canvas.drawn()), Describe(RECT{x, y, x + c.width, y + c.height}));
  }
}

TEST_F(JpegDataTest, DrawsUprightAndUnmirrored) {
  struct Quadrant {
    const char* name;
    int left, top;  // within the 64 x 32 picture
    uint32_t colour;
  };
  const Quadrant kQuadrants[] = {
      {"top left", 0, 0, 0xDC1E1E},
      {"top right", 32, 0, 0x1EC81E},
      {"bottom left", 0, 16, 0x1E1EDC},
      {"bottom right", 32, 16, 0xF0DC28},
  };
  CJpegData picture;
  ASSERT_TRUE(picture.Load(nullptr, "BIN", ZT_TEST_QUADRANTS_JPEG));
  ASSERT_EQ(picture.Width(), 64);
  ASSERT_EQ(picture.Height(), 32);
  Canvas canvas;
  ASSERT_TRUE(canvas.ready());
  const RECT bounds = canvas.bounds();
  constexpr int x = 100, y = 16;
  ASSERT_TRUE(picture.Render(canvas.dc(), x, y, &bounds));
  for (const Quadrant& q : kQuadrants) {
    // the centre and the two corners on the quadrant's diagonal, two pixels in
    const int samples[][2] = {{q.left + 16, q.top + 8}, {q.left + 2, q.top + 2}, {q.left + 29, q.top + 13}};
    for (const auto& s : samples) {
      const uint32_t colour = canvas.at(x + s[0], y + s[1]);
      EXPECT_TRUE(Near(colour, q.colour)) << q.name << " at (" << s[0] << "," << s[1] << "): " << Hex(colour)
                                          << ", expected " << Hex(q.colour);
    }
  }
}

TEST_F(JpegDataTest, ReadsFromTheModuleThatOwnsThePage) {
  const win::ScopedModule module(LoadLibraryA(ZT_PAGE_MODULE));
  ASSERT_TRUE(module);
  const Page libraryPage(module.get());
  const Page programPage(GetModuleHandleA(nullptr));
  ASSERT_TRUE(libraryPage.get() && programPage.get());

  CJpegData picture;
  EXPECT_TRUE(picture.Load(libraryPage.get(), "BIN", ZT_TEST_PAGE_MODULE_JPEG));
  EXPECT_EQ(picture.Width(), 64);
  EXPECT_FALSE(picture.Load(programPage.get(), "BIN", ZT_TEST_PAGE_MODULE_JPEG)) << "only the library holds it";
  EXPECT_FALSE(picture.Load(nullptr, "BIN", ZT_TEST_PAGE_MODULE_JPEG));
  EXPECT_TRUE(picture.Load(programPage.get(), "BIN", ZT_TEST_WIZARD1_JPEG));
  EXPECT_EQ(picture.Width(), 400);
  EXPECT_FALSE(picture.Load(libraryPage.get(), "BIN", ZT_TEST_WIZARD1_JPEG)) << "only the program holds it";
}

// Each load starts from a picture already there: a failed load must not leave the old one behind.
TEST_F(JpegDataTest, FailedLoadLeavesItEmpty) {
  struct Case {
    const char* what;
    const char* type;
    UINT id;
  };
  const Case cases[] = {
      {"text, not a picture", "BIN", ZT_TEST_NOT_A_PICTURE},
      {"no such resource", "BIN", 999},
      {"picture under another type", "JPEG", ZT_TEST_WIZARD1_JPEG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CJpegData picture;
    ASSERT_TRUE(picture.Load(nullptr, "BIN", ZT_TEST_QUADRANTS_JPEG));
    EXPECT_FALSE(picture.Load(nullptr, c.type, c.id));
    ExpectEmpty(picture);
  }
}

}  // namespace
