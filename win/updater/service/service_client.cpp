#include "win/updater/service/service_client.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <utility>

#include "common/commands.h"

namespace {

// The service answers "busy" while another caller's command runs; device commands give it ten tries,
// the named operations twelve, 10 ms apart.
constexpr int kDeviceCallAttempts = 10;
constexpr int kNamedCallAttempts = 12;
constexpr DWORD kBusyPauseMs = 10;

// An ANSI string as a BSTR, converted straight into the string's own storage.
class Bstr {
 public:
  explicit Bstr(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);  // with the terminator
    if (length <= 0) throw ServiceError(E_OUTOFMEMORY);
    value_ = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
    if (!value_) throw ServiceError(E_OUTOFMEMORY);
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, value_, length) != length) {
      SysFreeString(value_);
      throw ServiceError(E_OUTOFMEMORY);
    }
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return value_; }

 private:
  BSTR value_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT& get() { return value_; }
  // For an out argument: whatever an earlier (busy) call left behind is freed first.
  VARIANT* Fresh() {
    VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

// No bytes travel as an empty VARIANT, not as an empty array.
HRESULT PackBytes(const uint8_t* data, uint32_t count, VARIANT& out) {
  if (count == 0) return S_OK;
  if (!data) return E_POINTER;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, count);
  if (!array) return E_OUTOFMEMORY;
  V_VT(&out) = VT_ARRAY | VT_UI1;
  V_ARRAY(&out) = array;  // the VARIANT owns it from here
  void* bytes = nullptr;
  if (const HRESULT hr = SafeArrayAccessData(array, &bytes); FAILED(hr)) return hr;
  std::memcpy(bytes, data, count);
  SafeArrayUnaccessData(array);
  return S_OK;
}

// The byte array of a reply, given directly or by reference; read locked, unlocked on every path.
class ReplyArray {
 public:
  explicit ReplyArray(const VARIANT& reply) {
    if (V_VT(&reply) == (VT_ARRAY | VT_UI1)) {
      array_ = V_ARRAY(&reply);
    } else if (V_VT(&reply) == (VT_BYREF | VT_ARRAY | VT_UI1) && V_ARRAYREF(&reply)) {
      array_ = *V_ARRAYREF(&reply);
    }
    if (!array_ || SafeArrayGetDim(array_) != 1 || FAILED(SafeArrayAccessData(array_, &data_))) {
      array_ = nullptr;
      return;
    }
    // The service's length is the element count less the lower bound; it never reaches past the
    // elements the array holds.
    const SAFEARRAYBOUND bound = array_->rgsabound[0];
    const int64_t length = int64_t{bound.cElements} - bound.lLbound;
    length_ = static_cast<uint32_t>(std::clamp<int64_t>(length, 0, bound.cElements));
  }
  ~ReplyArray() {
    if (array_) SafeArrayUnaccessData(array_);
  }
  ReplyArray(const ReplyArray&) = delete;
  ReplyArray& operator=(const ReplyArray&) = delete;

  bool present() const { return array_ != nullptr; }
  uint32_t length() const { return length_; }
  std::span<const uint8_t> bytes() const { return {static_cast<const uint8_t*>(data_), length_}; }

  // At most capacity - 1 bytes and a zero byte; gives the full length.
  uint32_t CopyTo(uint8_t* buffer, uint32_t capacity) const {
    service::CopyReply(bytes(), std::span(buffer, buffer ? capacity : 0), capacity);
    return length_;
  }

 private:
  SAFEARRAY* array_ = nullptr;
  void* data_ = nullptr;
  uint32_t length_ = 0;
};

template <class Call>
HRESULT CallWhileBusy(Call call) {
  HRESULT hr = call();
  for (int made = 1; hr == kServiceBusy && made < kDeviceCallAttempts; ++made) {
    Sleep(kBusyPauseMs);
    hr = call();
  }
  return hr;
}

}  // namespace

HRESULT SendRV2Service::CreateLocalServer(IUnknown** object) {
  return CoCreateInstance(kServiceClassId, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                          reinterpret_cast<void**>(object));
}

SendRV2Service::SendRV2Service(CreateFunction create) : create_(std::move(create)) {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  if (const HRESULT hr = Connect(); FAILED(hr)) {
    Disconnect();
    throw ServiceError(hr);
  }
}

SendRV2Service::~SendRV2Service() {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  Disconnect();
}

HRESULT SendRV2Service::Connect() {
  // A thread that already lives in a single-threaded apartment keeps it.
  HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (init == RPC_E_CHANGED_MODE) init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(init)) comThreads_.push_back(GetCurrentThreadId());

  if (const HRESULT hr = create_(object_.Receive()); FAILED(hr)) {
    object_.Reset();
    return hr;
  }
  if (!object_) return E_NOINTERFACE;
  threadId_ = GetCurrentThreadId();
  const HRESULT hr = object_->QueryInterface(kDeviceInterfaceId, device_.ReceiveVoid());
  return SUCCEEDED(hr) && !device_ ? E_NOINTERFACE : hr;
}

void SendRV2Service::Disconnect() {
  device_.Reset();
  object_.Reset();
  // COM can only be left on the thread that entered it; an initialisation made on a thread that has
  // since handed the connection over is settled when this client is next disconnected there.
  const auto entered = std::find(comThreads_.begin(), comThreads_.end(), GetCurrentThreadId());
  if (entered != comThreads_.end()) {
    comThreads_.erase(entered);
    CoUninitialize();
  }
}

HRESULT SendRV2Service::FollowCallingThread() {
  // A client left without a connection by a failed reconnect tries again here rather than crash.
  if (device_ && threadId_ == GetCurrentThreadId()) return S_OK;
  Disconnect();
  return Connect();
}

template <class Call>
HRESULT SendRV2Service::CallNamed(Call call) {
  for (int made = 1;; ++made) {
    const HRESULT hr = call();
    if (SUCCEEDED(hr) || made == kNamedCallAttempts) return hr;
    if (hr == RPC_E_WRONG_THREAD) {
      Disconnect();
      if (const HRESULT connected = Connect(); FAILED(connected)) return connected;
    } else if (hr == kServiceBusy) {
      Sleep(kBusyPauseMs);
    } else {
      return hr;
    }
  }
}

HRESULT SendRV2Service::OpenDevice(const char* path, uint32_t& device) {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  if (!path) return E_POINTER;
  if (const HRESULT hr = FollowCallingThread(); FAILED(hr)) return hr;
  const Bstr text(path);
  ULONG handle = 0;
  const HRESULT hr = device_->Open(text.get(), &handle);
  device = handle;
  return hr;
}

// No thread check: a handle is closed by whichever thread is done with it.
HRESULT SendRV2Service::CloseDevice(uint32_t device) {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  if (!device_) return CO_E_OBJNOTCONNECTED;
  return device_->Close(device);
}

HRESULT SendRV2Service::SendCommand(uint32_t device, uint32_t code, uint32_t subCode, const uint8_t* data,
                                    uint32_t count) {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  if (const HRESULT hr = FollowCallingThread(); FAILED(hr)) return hr;
  Variant bytes;
  if (const HRESULT hr = PackBytes(data, count, bytes.get()); FAILED(hr)) return hr;
  return CallWhileBusy([&] { return device_->Send(device, code, subCode, bytes.get()); });
}

HRESULT SendRV2Service::ReceiveReply(uint32_t device, uint32_t code, uint32_t subCode, uint8_t* buffer,
                                     uint32_t capacity, uint32_t& length) {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  length = 0;
  if (const HRESULT hr = FollowCallingThread(); FAILED(hr)) return hr;
  Variant reply;
  const HRESULT hr = CallWhileBusy([&] { return device_->Receive(device, code, subCode, reply.Fresh()); });
  if (SUCCEEDED(hr)) length = ReplyArray(reply.get()).CopyTo(buffer, capacity);
  return hr;
}

HRESULT SendRV2Service::NamedCommand(const char* name, uint32_t value1, uint32_t value2, const uint8_t* data,
                                     uint32_t count) {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  if (!name) return E_POINTER;
  if (const HRESULT hr = FollowCallingThread(); FAILED(hr)) return hr;
  const Bstr text(name);
  Variant bytes;
  if (const HRESULT hr = PackBytes(data, count, bytes.get()); FAILED(hr)) return hr;
  return CallNamed([&] { return device_->NamedCommand(text.get(), value1, value2, bytes.get()); });
}

HRESULT SendRV2Service::NamedQuery(const char* name, uint32_t value1, uint32_t value2, uint8_t* buffer,
                                   uint32_t capacity, uint32_t& length) {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  length = 0;
  if (!name) return E_POINTER;
  if (const HRESULT hr = FollowCallingThread(); FAILED(hr)) return hr;
  const Bstr text(name);
  Variant reply;
  const HRESULT hr = CallNamed([&] { return device_->NamedQuery(text.get(), value1, value2, reply.Fresh()); });
  if (SUCCEEDED(hr)) length = ReplyArray(reply.get()).CopyTo(buffer, capacity);
  return hr;
}

HRESULT SendRV2Service::NamedQueryNew(const char* name, uint32_t value1, uint32_t value2,
                                      std::unique_ptr<uint8_t[]>& buffer, uint32_t& length) {
  section_.Enter();
  CAutoCriticalSection guard(section_.get());
  buffer.reset();
  length = 0;
  if (!name) return E_POINTER;
  if (const HRESULT hr = FollowCallingThread(); FAILED(hr)) return hr;
  const Bstr text(name);
  Variant reply;
  const HRESULT hr = CallNamed([&] { return device_->NamedQuery(text.get(), value1, value2, reply.Fresh()); });
  if (FAILED(hr)) return hr;
  const ReplyArray array(reply.get());
  if (!array.present()) return kServiceNoData;
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size_t{array.length()} + 1]());  // zero-terminated
  if (!copy) return E_OUTOFMEMORY;
  std::ranges::copy(array.bytes(), copy.get());
  buffer = std::move(copy);
  length = array.length();
  return hr;
}
