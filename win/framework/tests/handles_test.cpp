#include "win/framework/handles.h"

#include <gtest/gtest.h>

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

TEST(Strings, ConvertBothWays) {
  EXPECT_EQ(win::Utf8ToWide("Größe"), L"Größe");
  EXPECT_EQ(win::WideToUtf8(L"更新"), "更新");
  EXPECT_EQ(win::AnsiToWide("plain"), L"plain");
  EXPECT_EQ(win::WideToAnsi(L""), "");
}

}  // namespace
