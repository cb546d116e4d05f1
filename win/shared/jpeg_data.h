#pragma once
// A wizard picture: a JPEG carried as a resource of the module that owns the page, decoded by the
// system's picture object and painted at its natural size in device pixels.
//
// COM must be initialised on the calling thread (OleInitialize or CoInitialize) before Load, and stay
// initialised until the object is destroyed: the picture object is released then.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdint>

#include "win/framework/com_ptr.h"

class CJpegData {
 public:
  CJpegData() = default;
  CJpegData(const CJpegData&) = delete;
  CJpegData& operator=(const CJpegData&) = delete;

  // Decodes resource `id` of type `type` from the module of `page` (the executable's module when
  // `page` is null) and measures it with the page's device context (the screen's when `page` is null).
  // Whatever was loaded before is dropped first, so a failed load leaves the object empty.
  bool Load(HWND page, const char* type, UINT id);

  // Draws the whole picture upright at (x, y) in its pixel size; `bounds` is handed to the picture
  // object as its bounds rectangle and may be null. False, and nothing drawn, without a picture.
  bool Render(HDC dc, int x, int y, const RECT* bounds) const;

  bool Loaded() const { return static_cast<bool>(picture_); }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t HimetricWidth() const { return himetricWidth_; }
  int32_t HimetricHeight() const { return himetricHeight_; }

 private:
  void Clear();

  win::ComPtr<IPicture> picture_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t himetricWidth_ = 0;
  int32_t himetricHeight_ = 0;
};
