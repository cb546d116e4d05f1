#include "win/updater/service/service_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "win/framework/handles.h"
#include "win/updater/service/tests/device_service_stub.h"

namespace {

enum Slot { kOpen = 7, kClose, kSend, kReceive, kNamedCommand, kNamedQuery, kSlotCount };
enum class Form { Direct, ByRef, None };

// Tracks every block COM's allocator hands out (SAFEARRAYs, BSTRs) until it is freed.
class AllocationSpy final : public IMallocSpy {
 public:
  size_t Live() {
    std::lock_guard lock(mutex_);
    return live_.size();
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IMallocSpy ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override { return Note(block, true); }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override { return Note(block, false); }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** request, BOOL) override {
    *request = Note(block, false);
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return Note(block, true); }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  void* Note(void* block, bool live) {
    std::lock_guard lock(mutex_);
    if (!live) live_.erase(block);
    else if (block) live_.insert(block);
    return block;
  }
  std::mutex mutex_;
  std::set<void*> live_;
};

AllocationSpy& Allocations() {
  static AllocationSpy* const spy = [] {
    // Freed strings would otherwise wait in the string cache and look leaked.
    using NoCache = void(WINAPI*)();
    if (auto noCache = win::BindExport<NoCache>(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache")) noCache();
    auto* created = new AllocationSpy;  // COM may call it until the process ends: never deleted
    CoRegisterMallocSpy(created);
    return created;
  }();
  return *spy;
}

// The next scripted result, S_OK once the script runs out.
HRESULT Pop(std::deque<HRESULT>& script) {
  if (script.empty()) return S_OK;
  const HRESULT hr = script.front();
  script.pop_front();
  return hr;
}

// The service object: scripted results per slot (S_OK once a script runs out), calls counted per slot.
class FakeService final : public DeviceServiceStub {
 public:
  HRESULT STDMETHODCALLTYPE Open(BSTR path, ULONG* device) override {
    text.assign(path, SysStringLen(path));
    *device = 0x1234;
    return Next(kOpen);
  }
  HRESULT STDMETHODCALLTYPE Close(ULONG) override { return Next(kClose); }
  HRESULT STDMETHODCALLTYPE Send(ULONG, ULONG, ULONG, VARIANT data) override { return Take(data, kSend); }
  HRESULT STDMETHODCALLTYPE Receive(ULONG, ULONG, ULONG, VARIANT* out) override {
    if (gate) {
      SetEvent(entered);
      WaitForSingleObject(gate, 5000);
    }
    return Answer(out, kReceive);
  }
  HRESULT STDMETHODCALLTYPE NamedCommand(BSTR name, ULONG, ULONG, VARIANT data) override {
    text.assign(name, SysStringLen(name));
    return Take(data, kNamedCommand);
  }
  HRESULT STDMETHODCALLTYPE NamedQuery(BSTR, ULONG, ULONG, VARIANT* out) override {
    return Answer(out, kNamedQuery);
  }

  std::deque<HRESULT> script[kSlotCount];
  std::atomic<int> calls[kSlotCount] = {};
  std::vector<uint8_t> reply;
  Form form = Form::Direct;
  LONG lowerBound = 0;
  std::wstring text;
  VARTYPE sentType = VT_ILLEGAL;
  std::vector<uint8_t> sent;
  HANDLE gate = nullptr;  // while set, Receive signals `entered` and waits for it
  HANDLE entered = nullptr;
  SAFEARRAY* byRef = nullptr;  // a by-reference reply stays the service's: freed by the fixture

 private:
  HRESULT Next(Slot slot) {
    ++calls[slot];
    return Pop(script[slot]);
  }
  HRESULT Take(const VARIANT& data, Slot slot) {
    sentType = V_VT(&data);
    if (sentType == (VT_ARRAY | VT_UI1)) {
      const auto* bytes = static_cast<const uint8_t*>(V_ARRAY(&data)->pvData);
      sent.assign(bytes, bytes + V_ARRAY(&data)->rgsabound[0].cElements);
    }
    return Next(slot);
  }
  // Answers even when busy, so that a client which does not free between tries leaks.
  HRESULT Answer(VARIANT* out, Slot slot) {
    VariantInit(out);
    if (form != Form::None) {
      SAFEARRAYBOUND bound{static_cast<ULONG>(reply.size()), lowerBound};
      SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
      if (!reply.empty()) std::memcpy(array->pvData, reply.data(), reply.size());
      V_VT(out) = VT_ARRAY | VT_UI1 | (form == Form::ByRef ? VT_BYREF : 0);
      if (form == Form::ByRef) {
        SafeArrayDestroy(std::exchange(byRef, array));
        V_ARRAYREF(out) = &byRef;
      } else {
        V_ARRAY(out) = array;
      }
    }
    return Next(slot);
  }
};

class ServiceClientTest : public testing::Test {
 protected:
  void SetUp() override { liveBefore_ = Allocations().Live(); }
  void TearDown() override {
    SafeArrayDestroy(std::exchange(fake.byRef, nullptr));
    EXPECT_EQ(fake.refs, 1) << "references to the service object left behind";
    EXPECT_EQ(Allocations().Live(), liveBefore_) << "arrays or strings left behind";
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "COM left initialised on this thread";
    CoUninitialize();
  }
  SendRV2Service::CreateFunction Creator() {
    return [this](IUnknown** out) {
      ++creations;
      const HRESULT hr = Pop(createResults);
      if (SUCCEEDED(hr)) {
        fake.AddRef();
        *out = &fake;
      }
      return hr;
    };
  }

  FakeService fake;
  std::atomic<int> creations = 0;
  std::deque<HRESULT> createResults;
  size_t liveBefore_ = 0;
};

HRESULT Invoke(SendRV2Service& client, Slot slot) {
  const uint8_t data[4] = {1, 2, 3, 4};
  uint8_t buffer[8];
  uint32_t number = 0;
  switch (slot) {
    case kOpen: return client.OpenDevice("\\\\.\\E:", number);
    case kClose: return client.CloseDevice(1);
    case kSend: return client.SendCommand(1, 256, 0, data, 4);
    case kReceive: return client.ReceiveReply(1, 5, 0, buffer, sizeof buffer, number);
    case kNamedCommand: return client.NamedCommand("Mode", 1, 2, data, 4);
    default: return client.NamedQuery("State", 1, 2, buffer, sizeof buffer, number);
  }
}

TEST_F(ServiceClientTest, BusyServiceIsAskedAgainTenMillisecondsApartUpToALimit) {
  const struct {
    Slot slot;
    int busy, calls;
    HRESULT result;
  } cases[] = {
      {kOpen, 1, 1, kServiceBusy},          {kSend, 1, 2, S_OK},
      {kSend, 20, 10, kServiceBusy},        {kReceive, 9, 10, S_OK},
      {kReceive, 20, 10, kServiceBusy},     {kNamedCommand, 11, 12, S_OK},
      {kNamedCommand, 20, 12, kServiceBusy}, {kNamedQuery, 20, 12, kServiceBusy},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "slot " << c.slot << ", busy " << c.busy);
    fake.calls[c.slot] = 0;
    fake.script[c.slot].assign(static_cast<size_t>(c.busy), kServiceBusy);
    SendRV2Service client(Creator());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Invoke(client, c.slot), c.result);
    EXPECT_EQ(fake.calls[c.slot], c.calls);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9) * (c.calls - 1));
    fake.script[c.slot].clear();
  }
}

TEST_F(ServiceClientTest, ReplyIsCutToTheBufferAndZeroTerminatedWithTheFullLengthReported) {
  const struct {
    const char* what;
    Form form;
    std::vector<uint8_t> reply;
    LONG lowerBound;
    uint32_t capacity;
    std::vector<uint8_t> expected;  // the buffer afterwards, 0xEE where nothing may be written
    uint32_t length;
  } cases[] = {
      {"fits", Form::Direct, {1, 2, 3}, 0, 5, {1, 2, 3, 0, 0xEE}, 3},
      {"too long", Form::Direct, {1, 2, 3, 4, 5, 6}, 0, 4, {1, 2, 3, 0, 0xEE}, 6},
      {"by reference", Form::ByRef, {1, 2, 3, 4, 5, 6}, 0, 4, {1, 2, 3, 0, 0xEE}, 6},
      {"no array", Form::None, {}, 0, 4, {0, 0xEE}, 0},
      {"lower bound 1", Form::Direct, {1, 2, 3, 4}, 1, 8, {1, 2, 3, 0, 0xEE}, 3},
      {"no room", Form::Direct, {1, 2}, 0, 0, {0xEE}, 2},
  };
  SendRV2Service client(Creator());
  for (const auto& c : cases) {
    for (const bool named : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.what << (named ? ", named query" : ", receive"));
      fake.form = c.form;
      fake.reply = c.reply;
      fake.lowerBound = c.lowerBound;
      std::vector<uint8_t> buffer(16, 0xEE);
      uint32_t length = 99;
      EXPECT_EQ(named ? client.NamedQuery("State", 0, 0, buffer.data(), c.capacity, length)
                      : client.ReceiveReply(1, 5, 0, buffer.data(), c.capacity, length),
                S_OK);
      EXPECT_EQ(std::vector(buffer.begin(), buffer.begin() + static_cast<long>(c.expected.size())), c.expected);
      EXPECT_EQ(length, c.length);
    }
  }
}

TEST_F(ServiceClientTest, QueryIntoANewBufferGivesTheWholeReplyOrNoData) {
  SendRV2Service client(Creator());
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t length = 0;
  fake.reply = {7, 8, 9};
  ASSERT_EQ(client.NamedQueryNew("Log", 0, 0, buffer, length), S_OK);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::vector(buffer.get(), buffer.get() + 4), (std::vector<uint8_t>{7, 8, 9, 0}));
  fake.form = Form::None;
  EXPECT_EQ(client.NamedQueryNew("Log", 0, 0, buffer, length), kServiceNoData);
  EXPECT_EQ(buffer, nullptr);
}

TEST_F(ServiceClientTest, BytesTravelAsAnArrayAndNoBytesAsAnEmptyVariant) {
  SendRV2Service client(Creator());
  const uint8_t data[3] = {0xA0, 0xB0, 0xC0};
  ASSERT_EQ(client.SendCommand(1, 256, 0, data, 3), S_OK);
  EXPECT_EQ(fake.sentType, VT_ARRAY | VT_UI1);
  EXPECT_EQ(fake.sent, (std::vector<uint8_t>{0xA0, 0xB0, 0xC0}));
  ASSERT_EQ(client.SendCommand(1, 260, 0, nullptr, 0), S_OK);
  EXPECT_EQ(fake.sentType, VT_EMPTY);
  ASSERT_EQ(client.NamedCommand("Mode", 0, 0, data, 0), S_OK);
  EXPECT_EQ(fake.sentType, VT_EMPTY);
  EXPECT_EQ(fake.text, L"Mode");
  uint32_t device = 0;
  ASSERT_EQ(client.OpenDevice("\\\\.\\E:", device), S_OK);
  EXPECT_EQ(fake.text, L"\\\\.\\E:");
  EXPECT_EQ(device, 0x1234u);
}

TEST_F(ServiceClientTest, WrongThreadOnANamedOperationReconnectsAndCallsAgain) {
  SendRV2Service client(Creator());
  fake.script[kNamedQuery] = {RPC_E_WRONG_THREAD};
  EXPECT_EQ(Invoke(client, kNamedQuery), S_OK);
  EXPECT_EQ(fake.calls[kNamedQuery], 2);
  EXPECT_EQ(creations, 2);
  // A reconnect that fails ends the call with its result; the next call connects again.
  fake.script[kNamedCommand] = {RPC_E_WRONG_THREAD};
  createResults = {REGDB_E_CLASSNOTREG};
  EXPECT_EQ(Invoke(client, kNamedCommand), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(Invoke(client, kNamedCommand), S_OK);
  EXPECT_EQ(creations, 4);
}

TEST_F(ServiceClientTest, AnotherThreadGetsItsOwnConnectionButCloseNeedsNone) {
  SendRV2Service client(Creator());
  std::thread([&] { EXPECT_EQ(Invoke(client, kOpen), S_OK); }).join();
  EXPECT_EQ(creations, 2);
  EXPECT_EQ(Invoke(client, kClose), S_OK);
  EXPECT_EQ(fake.calls[kClose], 1);
  EXPECT_EQ(creations, 2);
}

TEST_F(ServiceClientTest, FailedConnectionThrowsItsResult) {
  const struct {
    HRESULT created;
    bool hasInterface;
    HRESULT thrown;
  } cases[] = {{REGDB_E_CLASSNOTREG, true, REGDB_E_CLASSNOTREG}, {S_OK, false, E_NOINTERFACE}};
  for (const auto& c : cases) {
    createResults = {c.created};
    fake.hasInterface = c.hasInterface;
    try {
      SendRV2Service client(Creator());
      ADD_FAILURE() << "no exception";
    } catch (const ServiceError& error) {
      EXPECT_EQ(error.result(), c.thrown);
    }
  }
  // Nothing registers the real service here.
  EXPECT_THROW(SendRV2Service{}, ServiceError);
}

TEST_F(ServiceClientTest, OneCallAtATime) {
  win::ScopedHandle gate(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  win::ScopedHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  fake.gate = gate.get();
  fake.entered = entered.get();
  SendRV2Service client(Creator());
  std::thread receiving([&] { Invoke(client, kReceive); });
  EXPECT_EQ(WaitForSingleObject(entered.get(), 5000), WAIT_OBJECT_0);
  std::thread closing([&] { Invoke(client, kClose); });
  Sleep(50);
  EXPECT_EQ(fake.calls[kClose], 0) << "closed while a receive was under way";
  SetEvent(gate.get());
  receiving.join();
  closing.join();
  EXPECT_EQ(fake.calls[kClose], 1);
}

}  // namespace
