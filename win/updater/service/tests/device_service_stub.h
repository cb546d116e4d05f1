#pragma once
// The part of a stand-in for the device access service that every test's stand-in shares: COM identity
// and reference counting, and the slots that belong to the service alone. The object lives on the
// test's stack, so the count is only watched, never acted on.

#include <atomic>

#include "win/updater/service/service_client.h"

class DeviceServiceStub : public IDeviceService {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || (iid == kDeviceInterfaceId && hasInterface) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }

  std::atomic<long> refs{1};
  bool hasInterface = true;  // false: the object is there, its device interface is not
};
