#include "win/framework/handles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "win/framework/strings.h"

namespace {

TEST(ScopedHandle, BothEmptyValuesAreEmptyAndCloseKeepsTheLastError) {
  EXPECT_FALSE(win::ScopedHandle().valid());
  EXPECT_FALSE(win::ScopedHandle(INVALID_HANDLE_VALUE).valid());

  HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    win::ScopedHandle event(raw);
    ASSERT_TRUE(event.valid());
    SetLastError(ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "closing must not change the error";
  EXPECT_EQ(WaitForSingleObject(raw, 0), WAIT_FAILED) << "the handle was closed";
}

TEST(ScopedHandle, MovesOwnership) {
  win::ScopedHandle a(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const HANDLE raw = a.get();
  win::ScopedHandle b(std::move(a));
  EXPECT_FALSE(a.valid());
  EXPECT_EQ(b.get(), raw);
  win::ScopedHandle c;
  c = std::move(b);
  EXPECT_EQ(c.get(), raw);
  EXPECT_EQ(WaitForSingleObject(raw, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still open after the moves";
}

// A library planted under a system library's name where a bare name would find it first is never
// the one loaded.
TEST(LoadSystemLibrary, TakesTheSystemFolderOnly) {
  char temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string folder = std::string(temp) + "zt-planted-" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  for (const char* name : {"HID.DLL", "HOTPLUG.DLL"}) {
    SCOPED_TRACE(name);
    const std::string planted = folder + "\\" + name;
    ASSERT_TRUE(CopyFileA(ZT_PLANTED_LIBRARY, planted.c_str(), FALSE));
    // Searched before the system folder by a bare name, as the program's own folder is.
    ASSERT_TRUE(SetDllDirectoryA(folder.c_str()));
    {
      const win::ScopedModule library = win::LoadSystemLibrary(name);
      if (library) {
        EXPECT_EQ(GetProcAddress(library.get(), "KesGlossInit"), nullptr) << "the planted library was loaded";
        char path[MAX_PATH] = {};
        char system[MAX_PATH] = {};
        GetModuleFileNameA(library.get(), path, MAX_PATH);
        GetSystemDirectoryA(system, MAX_PATH);
        EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(strlen(system)), system, -1),
                  CSTR_EQUAL)
            << path;
      } else {
        // A system without the library (HOTPLUG.DLL is gone from newer ones) gets nothing, not the plant.
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << GetLastError();
      }
    }
    SetDllDirectoryA(nullptr);
    DeleteFileA(planted.c_str());
  }
  RemoveDirectoryA(folder.c_str());
}

TEST(Strings, ConvertBothWays) {
  EXPECT_EQ(win::Utf8ToWide("Größe"), L"Größe");
  EXPECT_EQ(win::WideToUtf8(L"更新"), "更新");
  EXPECT_EQ(win::AnsiToWide("plain"), L"plain");
  EXPECT_EQ(win::WideToAnsi(L""), "");
}

}  // namespace
