#pragma once
// What DssCancel.dll and the shell agree on: the shell's AutoPlay query interface (mingw's headers do
// not declare it) and the class id under which our answering object is known.

#include <windows.h>
#include <objbase.h>

namespace dsscancel {

// {DDEFE873-6997-4E68-BE26-39B633ADBE12}, fixed by the shell.
inline constexpr IID kIidQueryCancelAutoPlay = {0xDDEFE873, 0x6997, 0x4E68, {0xBE, 0x26, 0x39, 0xB6, 0x33, 0xAD, 0xBE, 0x12}};

// Our own: the shell finds the object in the running object table through a class moniker made from
// it, after finding it named in the CancelAutoplay registry key.
inline constexpr CLSID kClsidCancelAutoPlay = {0x19DCE807, 0x4C6C, 0x46FC, {0x8E, 0x4A, 0x3F, 0x17, 0xD9, 0xA5, 0xE4, 0x6B}};
inline constexpr wchar_t kClsidText[] = L"{19DCE807-4C6C-46FC-8E4A-3F17D9A5E46B}";

inline constexpr wchar_t kCancelAutoplayKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers\\CancelAutoplay\\CLSID";

struct IQueryCancelAutoPlay : public IUnknown {
  // S_FALSE cancels AutoPlay for the drive at `path` ("E:\"), S_OK lets it run.
  virtual HRESULT STDMETHODCALLTYPE AllowAutoPlay(LPCWSTR path, DWORD contentType, LPCWSTR label, DWORD serial) = 0;
};

}  // namespace dsscancel
