#pragma once
// One move-only owner for every kind of Windows handle. An owner is empty for both NULL and
// INVALID_HANDLE_VALUE (the API uses either, depending on the call), closes on every path, and keeps
// GetLastError as it was, so a failure reported after a clean-up still reads the right code.

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <utility>

namespace win {

template <class Traits>
class Scoped {
 public:
  using Type = typename Traits::Type;

  Scoped() = default;
  explicit Scoped(Type value) : value_(value) {}
  ~Scoped() { Close(); }
  Scoped(Scoped&& other) noexcept : value_(std::exchange(other.value_, Traits::Empty())) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.value_, Traits::Empty()));
    return *this;
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

  bool valid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return valid(); }
  Type get() const { return value_; }

  void Reset(Type value = Traits::Empty()) {
    Close();
    value_ = value;
  }
  Type Release() { return std::exchange(value_, Traits::Empty()); }

 private:
  void Close() {
    if (Traits::IsValid(value_)) {
      const DWORD error = GetLastError();
      Traits::Close(value_);
      SetLastError(error);
    }
    value_ = Traits::Empty();
  }
  Type value_ = Traits::Empty();
};

struct HandleTraits {
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { FreeLibrary(h); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { RegCloseKey(h); }
};

struct DeviceInfoListTraits {
  using Type = HDEVINFO;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { SetupDiDestroyDeviceInfoList(h); }
};

struct GlobalMemoryTraits {
  using Type = HGLOBAL;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { GlobalFree(h); }
};

using ScopedHandle = Scoped<HandleTraits>;
using ScopedModule = Scoped<ModuleTraits>;
using ScopedRegKey = Scoped<RegKeyTraits>;
using ScopedDeviceInfoList = Scoped<DeviceInfoListTraits>;
using ScopedGlobal = Scoped<GlobalMemoryTraits>;

// A library of the system itself, from the system folder only. A bare name is looked for first in the
// program's own folder, which for a stage of the two-stage wrapper is the temporary folder, where
// anybody may have left a file of that name; the library's own imports come from its folder too.
inline ScopedModule LoadSystemLibrary(const char* name) {
  char folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ScopedModule();
  const std::string path = std::string(folder, length) + "\\" + name;
  return ScopedModule(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

// GetProcAddress gives a generic pointer; the export's real type is the caller's contract.
template <class Fn>
Fn BindExport(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace win
