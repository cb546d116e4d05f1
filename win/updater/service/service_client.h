#pragma once
// Client of the device access service: the recorder maker's out-of-process COM server that issues the
// vendor commands for users who may not open the volume themselves.

#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "win/framework/com_ptr.h"
#include "win/framework/critical_section.h"

inline constexpr CLSID kServiceClassId = {
    0x7E939FBA, 0x739D, 0x46A4, {0xB5, 0xC1, 0xCB, 0xF7, 0x03, 0xAE, 0xC6, 0xD5}};
inline constexpr IID kDeviceInterfaceId = {
    0xB727BEB8, 0x87F3, 0x4024, {0xAC, 0xA8, 0x06, 0x55, 0x24, 0x65, 0x18, 0xD8}};

// The service is working on another caller's command: ask again shortly.
inline constexpr HRESULT kServiceBusy = static_cast<HRESULT>(0x80050006);
// Ours, not the service's: a query into a new buffer was answered without data.
inline constexpr HRESULT kServiceNoData = static_cast<HRESULT>(0x8005000E);

// The service's device interface. Only the slot order and argument forms are fixed; byte data travels
// as a one-dimensional SAFEARRAY of VT_UI1.
class IDeviceService : public IUnknown {
 public:
  // Slots 3-6 belong to the service and are never called from here.
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;

  virtual HRESULT STDMETHODCALLTYPE Open(BSTR path, ULONG* device) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close(ULONG device) = 0;
  virtual HRESULT STDMETHODCALLTYPE Send(ULONG device, ULONG code, ULONG subCode, VARIANT data) = 0;
  virtual HRESULT STDMETHODCALLTYPE Receive(ULONG device, ULONG code, ULONG subCode, VARIANT* reply) = 0;
  virtual HRESULT STDMETHODCALLTYPE NamedCommand(BSTR name, ULONG value1, ULONG value2, VARIANT data) = 0;
  virtual HRESULT STDMETHODCALLTYPE NamedQuery(BSTR name, ULONG value1, ULONG value2, VARIANT* reply) = 0;
};

// A connection that could not be made, or a string that could not be converted.
class ServiceError : public std::exception {
 public:
  explicit ServiceError(HRESULT result) : result_(result) {}
  HRESULT result() const { return result_; }
  const char* what() const noexcept override { return "device access service error"; }

 private:
  HRESULT result_;
};

class SendToService {
 public:
  virtual HRESULT NamedCommand(const char* name, uint32_t value1, uint32_t value2, const uint8_t* data,
                               uint32_t count) = 0;
  // At most capacity - 1 bytes land in `buffer`, followed by a zero byte; `length` is the full reply length.
  virtual HRESULT NamedQuery(const char* name, uint32_t value1, uint32_t value2, uint8_t* buffer,
                             uint32_t capacity, uint32_t& length) = 0;
  // The whole reply plus a zero byte, in a buffer the caller then owns.
  virtual HRESULT NamedQueryNew(const char* name, uint32_t value1, uint32_t value2,
                                std::unique_ptr<uint8_t[]>& buffer, uint32_t& length) = 0;
  virtual ~SendToService() = default;
};

class SendRV2Service : public SendToService {
 public:
  // Hands out the service object's IUnknown (one reference for the caller).
  using CreateFunction = std::function<HRESULT(IUnknown** object)>;
  static HRESULT CreateLocalServer(IUnknown** object);

  // Throws ServiceError with the result when the service cannot be reached.
  explicit SendRV2Service(CreateFunction create = CreateLocalServer);
  ~SendRV2Service() override;
  SendRV2Service(const SendRV2Service&) = delete;
  SendRV2Service& operator=(const SendRV2Service&) = delete;

  // `path` is an ANSI device path ("\\.\E:"). Throws ServiceError(E_OUTOFMEMORY) when it cannot be converted.
  HRESULT OpenDevice(const char* path, uint32_t& device);
  HRESULT CloseDevice(uint32_t device);
  HRESULT SendCommand(uint32_t device, uint32_t code, uint32_t subCode, const uint8_t* data, uint32_t count);
  HRESULT ReceiveReply(uint32_t device, uint32_t code, uint32_t subCode, uint8_t* buffer, uint32_t capacity,
                       uint32_t& length);

  HRESULT NamedCommand(const char* name, uint32_t value1, uint32_t value2, const uint8_t* data,
                       uint32_t count) override;
  HRESULT NamedQuery(const char* name, uint32_t value1, uint32_t value2, uint8_t* buffer, uint32_t capacity,
                     uint32_t& length) override;
  HRESULT NamedQueryNew(const char* name, uint32_t value1, uint32_t value2, std::unique_ptr<uint8_t[]>& buffer,
                        uint32_t& length) override;

 private:
  HRESULT Connect();
  void Disconnect();
  // A connection belongs to the thread that made it: another thread gets one of its own.
  HRESULT FollowCallingThread();
  template <class Call>
  HRESULT CallNamed(Call call);

  win::ComPtr<IUnknown> object_;
  win::ComPtr<IDeviceService> device_;
  CMyCriticalSection section_;
  DWORD threadId_ = 0;

  CreateFunction create_;
  // Threads on which this client initialised COM and still owes the matching CoUninitialize.
  std::vector<DWORD> comThreads_;
};
