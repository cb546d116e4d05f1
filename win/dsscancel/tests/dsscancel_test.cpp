// Drives the real DssCancel.dll the way the updater does (loaded by path on a thread that called
// OleInitialize, bound by export name, started, stopped, unloaded) and looks for the object the way the
// shell does: the registry value, then a class moniker in the running object table.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "win/dsscancel/cancel_autoplay.h"
#include "win/framework/com_ptr.h"
#include "win/framework/handles.h"

namespace {

using dsscancel::IQueryCancelAutoPlay;
using dsscancel::kCancelAutoplayKey;
using dsscancel::kClsidText;
using ControlFn = HRESULT(WINAPI*)();

constexpr const wchar_t* kOtherProgram = L"{5A1F0C22-7E3B-4D8C-9B61-0F2E4A7C3D95}";

bool ValueIn(HKEY root, const wchar_t* name) {
  return RegGetValueW(root, kCancelAutoplayKey, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Whether the running object table has an entry under our class moniker, and what the shell reaches
// through it (empty when nothing answers).
bool InRot(win::ComPtr<IQueryCancelAutoPlay>* query = nullptr) {
  win::ComPtr<IRunningObjectTable> rot;
  win::ComPtr<IMoniker> moniker;
  win::ComPtr<IUnknown> object;
  if (FAILED(GetRunningObjectTable(0, rot.Receive())) || FAILED(CreateClassMoniker(dsscancel::kClsidCancelAutoPlay, moniker.Receive())))
    return false;
  if (query && SUCCEEDED(rot->GetObject(moniker.get(), object.Receive())))
    object->QueryInterface(dsscancel::kIidQueryCancelAutoPlay, query->ReceiveVoid());
  return rot->IsRunning(moniker.get()) == S_OK;
}
win::ComPtr<IQueryCancelAutoPlay> RegisteredQuery() {
  win::ComPtr<IQueryCancelAutoPlay> query;
  InRot(&query);
  return query;
}

// `fn` called on a thread of its own, in the given apartment (none when empty). E_ABORT when it has
// not returned within ten seconds: the test has failed then, and the hung thread keeps its call.
struct ThreadCall {
  ControlFn fn;
  std::optional<COINIT> apartment;
  HRESULT answer = E_ABORT;
};
DWORD WINAPI RunThreadCall(void* context) {
  ThreadCall& call = *static_cast<ThreadCall*>(context);
  const bool com = call.apartment && SUCCEEDED(CoInitializeEx(nullptr, *call.apartment));
  call.answer = call.fn();
  if (com) CoUninitialize();
  return 0;
}
HRESULT CallOnAnotherThread(ControlFn fn, std::optional<COINIT> apartment) {
  auto call = std::make_unique<ThreadCall>(ThreadCall{fn, apartment});
  const win::ScopedHandle thread(CreateThread(nullptr, 0, RunThreadCall, call.get(), 0, nullptr));
  if (!thread) return HRESULT_FROM_WIN32(GetLastError());
  if (WaitForSingleObject(thread.get(), 10000) != WAIT_OBJECT_0) {
    static_cast<void>(call.release());
    return E_ABORT;
  }
  return call->answer;
}

class DssCancelTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    // A value left by a run that crashed is not the library's to remove, and would hide what it does.
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteKeyValueW(root, kCancelAutoplayKey, kClsidText);
    module_.Reset(LoadLibraryA(ZT_DSSCANCEL_DLL));
    ASSERT_TRUE(module_.valid());
    start_ = win::BindExport<ControlFn>(module_.get(), "StartAutoPlayCancel2");
    stop_ = win::BindExport<ControlFn>(module_.get(), "StopAutoPlayCancel");
    ASSERT_TRUE(start_ && stop_) << "exports must carry their plain names";
  }
  void TearDown() override {
    if (module_.valid()) stop_();
    module_.Reset();
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteKeyValueW(root, kCancelAutoplayKey, kOtherProgram);
    OleUninitialize();
  }
  void ExpectStopped() {
    EXPECT_FALSE(ValueIn(HKEY_LOCAL_MACHINE, kClsidText) || ValueIn(HKEY_CURRENT_USER, kClsidText));
    EXPECT_FALSE(InRot());
  }

  win::ScopedModule module_;
  ControlFn start_ = nullptr;
  ControlFn stop_ = nullptr;
};

TEST_F(DssCancelTest, TheShellFindsAnObjectThatCancelsUntilStop) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kCancelAutoplayKey, kOtherProgram, REG_SZ, L"", sizeof(wchar_t)), ERROR_SUCCESS);
  ASSERT_EQ(start_(), S_OK);
  EXPECT_TRUE(ValueIn(HKEY_LOCAL_MACHINE, kClsidText));
  win::ComPtr<IQueryCancelAutoPlay> query = RegisteredQuery();
  ASSERT_TRUE(query);
  EXPECT_EQ(query->AllowAutoPlay(L"E:\\", 0x40, L"ZT-5100", 0x1234), S_FALSE);  // removable, unknown content
  EXPECT_EQ(query->AllowAutoPlay(L"F:\\", 0, nullptr, 0), S_FALSE);             // empty media, no label
  query.Reset();

  EXPECT_EQ(stop_(), S_OK);
  ExpectStopped();
  EXPECT_TRUE(ValueIn(HKEY_LOCAL_MACHINE, kOtherProgram)) << "another program's value was removed";
}

TEST_F(DssCancelTest, RepeatedAndUnmatchedCallsAreHarmless) {
  struct Case {
    const char* name;
    std::vector<std::pair<bool, HRESULT>> calls;  // start (true) or stop, and its answer
  };
  const Case cases[] = {
      {"stop without start", {{false, S_FALSE}}},
      {"start twice, stop twice", {{true, S_OK}, {true, S_FALSE}, {false, S_OK}, {false, S_FALSE}}},
      {"start again after stop", {{true, S_OK}, {false, S_OK}, {true, S_OK}, {false, S_OK}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [start, expected] : c.calls) EXPECT_EQ(start ? start_() : stop_(), expected);
    ExpectStopped();
  }
}

// The updater runs as the invoker, and most users may not write the machine's hive. Here HKLM becomes
// a volatile key, under which no lasting key can be made.
TEST_F(DssCancelTest, WithoutWriteAccessToTheMachineTheUsersHiveCarriesTheValue) {
  constexpr const wchar_t* kScratch = L"Software\\ZT-5100 tests (volatile)";
  HKEY opened = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr, &opened, nullptr), ERROR_SUCCESS);
  const win::ScopedRegKey scratch(opened);
  ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch.get()), ERROR_SUCCESS);
  const HRESULT started = start_();
  const bool inUsersHive = ValueIn(HKEY_CURRENT_USER, kClsidText);
  const HRESULT stopped = stop_();
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegDeleteKeyW(HKEY_CURRENT_USER, kScratch);

  EXPECT_EQ(started, S_OK);
  EXPECT_TRUE(inUsersHive);
  EXPECT_EQ(stopped, S_OK);
  ExpectStopped();
}

// The shell asks through a proxy (from its own process; here from another apartment) and may keep it:
// Stop must cut it off, or the stub keeps the object, and so the library, alive after the updater frees it.
TEST_F(DssCancelTest, UnloadingAfterStopLeavesNothingEvenWhileTheShellHoldsAProxy) {
  ASSERT_EQ(start_(), S_OK);
  const win::ScopedHandle asked(CreateEventW(nullptr, TRUE, FALSE, nullptr)), stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HRESULT answer = E_FAIL;
  std::thread shell([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (const win::ComPtr<IQueryCancelAutoPlay> query = RegisteredQuery()) {
      answer = query->AllowAutoPlay(L"E:\\", 0x40, L"ZT-5100", 0);
      SetEvent(asked.get());
      WaitForSingleObject(stopped.get(), 10000);
    }
    SetEvent(asked.get());
    CoUninitialize();
    SetEvent(done.get());
  });
  // Waits as the updater's UI thread does, serving the calls that arrive meanwhile; bounded, so that
  // a lost call fails the test instead of holding the run. The other thread's waits are bounded too,
  // so the join below ends.
  const auto serve = [](HANDLE event) {
    DWORD index = 0;
    EXPECT_EQ(CoWaitForMultipleHandles(0, 10000, 1, &event, &index), S_OK) << "the other apartment never answered";
  };
  serve(asked.get());
  EXPECT_EQ(answer, S_FALSE);
  EXPECT_EQ(stop_(), S_OK);
  module_.Reset();
  EXPECT_EQ(GetModuleHandleA("DssCancel.dll"), nullptr) << "an object of the library outlived Stop";
  SetEvent(stopped.get());
  serve(done.get());
  shell.join();
  ExpectStopped();
}

// The library pins itself in these cases, for the rest of the process; CTest runs each in a process of
// its own, so that the cases above still see FreeLibrary unmap it.
class DssCancelPinningTest : public DssCancelTest {};

// The shell's proxies are cut off at Stop, but a caller in our own process may hold the object itself
// and ask it later: it must let AutoPlay run again, and its code must still be there after FreeLibrary.
TEST_F(DssCancelPinningTest, AnObjectKeptPastStopAllowsAutoPlayAndOutlivesFreeLibrary) {
  ASSERT_EQ(start_(), S_OK);
  // On the heap so that it can be dropped unreleased: releasing into unmapped code would end in
  // Wine's debugger, which waits for ever.
  auto kept = std::make_unique<win::ComPtr<IQueryCancelAutoPlay>>(RegisteredQuery());
  ASSERT_TRUE(*kept);
  EXPECT_EQ(stop_(), S_OK);
  ExpectStopped();
  EXPECT_EQ((*kept)->AllowAutoPlay(L"E:\\", 0x40, L"ZT-5100", 0), S_OK) << "still cancelling after Stop";

  module_.Reset();
  if (!GetModuleHandleA("DssCancel.dll")) {
    static_cast<void>(kept.release());
    FAIL() << "FreeLibrary unmapped the code of an object still held";
  }
  EXPECT_EQ((*kept)->AllowAutoPlay(L"F:\\", 0, nullptr, 0), S_OK);
  kept.reset();
}

// The ROT entry and the COM count belong to the starting thread, whatever apartment the other thread
// is in. While the refused Stop leaves the object registered, the shell may still ask it, so the
// library must outlive the updater's FreeLibrary.
TEST_F(DssCancelPinningTest, StopFromAnotherThreadIsRefusedAndLeftToTheStartingThread) {
  struct Case {
    const char* name;
    std::optional<COINIT> apartment;
  };
  const Case cases[] = {
      {"thread without COM", std::nullopt},
      {"thread in the multithreaded apartment", COINIT_MULTITHREADED},
      {"thread in an apartment of its own", COINIT_APARTMENTTHREADED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(start_(), S_OK);
    EXPECT_EQ(CallOnAnotherThread(stop_, c.apartment), RPC_E_WRONG_THREAD);
    {
      win::ComPtr<IQueryCancelAutoPlay> query;
      EXPECT_TRUE(InRot(&query));
      ASSERT_TRUE(query);
      EXPECT_EQ(query->AllowAutoPlay(L"E:\\", 0x40, L"ZT-5100", 0), S_FALSE);
    }
    EXPECT_TRUE(ValueIn(HKEY_LOCAL_MACHINE, kClsidText) || ValueIn(HKEY_CURRENT_USER, kClsidText));
    EXPECT_EQ(stop_(), S_OK);
    ExpectStopped();
  }
  module_.Reset();
  EXPECT_NE(GetModuleHandleA("DssCancel.dll"), nullptr) << "a refused Stop left the library unpinned";
}

}  // namespace
