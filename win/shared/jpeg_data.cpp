#include "win/shared/jpeg_data.h"

#include <cstring>
#include <utility>

#include "win/framework/handles.h"

namespace {

constexpr int kHimetricPerInch = 2540;

// A window's device context, given back to the window on every path.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDC() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

HMODULE ModuleOf(HWND page) {
  if (!page) return GetModuleHandleA(nullptr);
  return reinterpret_cast<HMODULE>(GetWindowLongPtrA(page, GWLP_HINSTANCE));
}

// The resource's bytes in a block of our own: the stream reads from global memory, and a resource's
// memory is read-only and not a global block.
win::ScopedGlobal CopyResource(HMODULE module, const char* type, UINT id, DWORD& size) {
  const HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (!info) return {};
  size = SizeofResource(module, info);
  const HGLOBAL loaded = LoadResource(module, info);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return {};

  win::ScopedGlobal block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
  if (!block) return {};
  void* target = GlobalLock(block.get());
  if (!target) return {};
  std::memcpy(target, bytes, size);
  GlobalUnlock(block.get());
  return block;
}

// MulDiv rounds to the nearest pixel, so a size the decoder measured at this resolution comes back exact.
int32_t HimetricToPixels(int32_t himetric, int pixelsPerInch) { return MulDiv(himetric, pixelsPerInch, kHimetricPerInch); }

}  // namespace

void CJpegData::Clear() {
  picture_.Reset();
  width_ = height_ = himetricWidth_ = himetricHeight_ = 0;
}

bool CJpegData::Load(HWND page, const char* type, UINT id) {
  Clear();
  DWORD size = 0;
  win::ScopedGlobal block = CopyResource(ModuleOf(page), type, id, size);
  if (!block) return false;

  win::ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, stream.Receive())) || !stream) return false;
  block.Release();  // the stream frees the block when it goes

  win::ComPtr<IPicture> picture;
  if (FAILED(OleLoadPicture(stream.get(), static_cast<LONG>(size), FALSE, IID_IPicture, picture.ReceiveVoid())) ||
      !picture) {
    return false;
  }
  stream.Reset();

  OLE_XSIZE_HIMETRIC himetricWidth = 0;
  OLE_YSIZE_HIMETRIC himetricHeight = 0;
  if (FAILED(picture->get_Width(&himetricWidth)) || FAILED(picture->get_Height(&himetricHeight))) return false;

  const WindowDC dc(page);
  if (!dc.get()) return false;
  width_ = HimetricToPixels(himetricWidth, GetDeviceCaps(dc.get(), LOGPIXELSX));
  height_ = HimetricToPixels(himetricHeight, GetDeviceCaps(dc.get(), LOGPIXELSY));
  himetricWidth_ = himetricWidth;
  himetricHeight_ = himetricHeight;
  picture_ = std::move(picture);
  return true;
}

bool CJpegData::Render(HDC dc, int x, int y, const RECT* bounds) const {
  if (!picture_) return false;
  // HIMETRIC runs bottom-up: starting the source at its full height with a negative height turns the
  // picture the right way up on a top-down device.
  picture_->Render(dc, x, y, width_, height_, 0, himetricHeight_, himetricWidth_, -himetricHeight_, bounds);
  return true;
}
