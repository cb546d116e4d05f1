// DssCancel.dll: keeps the shell from opening its AutoPlay window while an updater runs, because the
// recorder's drive leaves and comes back when the update restarts it, and a window popping up over the
// wizard at that moment invites the user to open files on a recorder that is still being updated.
//
// The shell asks every object that is named in the CancelAutoplay registry key and found in the running
// object table under a class moniker of that name. Start puts our object in both places, Stop takes it
// out of both; neither does anything else, and loading the library does nothing at all (no DllMain).
//
// Threading: the ROT registration belongs to the apartment of the thread that calls Start, and the
// shell's questions arrive there. The updater calls Start and Stop on its UI thread, an STA (it calls
// OleInitialize) whose message loop delivers the calls. Start joins whatever apartment the thread has:
// CoInitializeEx then only adds a count, which Stop gives back on the same thread. A thread already in
// the multithreaded apartment is used as it is.

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

#include "win/dsscancel/cancel_autoplay.h"
#include "win/framework/critical_section.h"
#include "win/framework/handles.h"

namespace {

using dsscancel::IQueryCancelAutoPlay;

// Objects of ours still alive. Stop checks it after letting go of everything: a count above zero means
// someone kept a reference, and the library must then stay mapped for the calls still to come.
std::atomic<long> g_liveObjects{0};

// Keeps this library mapped until the process ends: FreeLibrary after Stop would otherwise unmap code
// that a late caller still reaches through the object's vtable.
void PinModule() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&PinModule), &self);
}

// Cancels AutoPlay for every drive, not only for the recorder's: the updater runs only while it expects
// the recorder, the recorder's drive letter is not known before it reappears, and some hosts report a
// USB drive as fixed rather than removable. A drive that appears during the few minutes of an update
// simply gets no AutoPlay window.
class CancelAutoPlay final : public IQueryCancelAutoPlay {
 public:
  CancelAutoPlay() { ++g_liveObjects; }
  CancelAutoPlay(const CancelAutoPlay&) = delete;
  CancelAutoPlay& operator=(const CancelAutoPlay&) = delete;

  // From the process heap rather than the C++ runtime's allocator, which would bring the runtime's
  // exception machinery into a library that has no use for it (and that users download).
  static void* operator new(size_t size, const std::nothrow_t&) noexcept { return HeapAlloc(GetProcessHeap(), 0, size); }
  static void operator delete(void* p) noexcept { HeapFree(GetProcessHeap(), 0, p); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, dsscancel::kIidQueryCancelAutoPlay)) {
      *out = static_cast<IQueryCancelAutoPlay*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE AllowAutoPlay(LPCWSTR, DWORD, LPCWSTR, DWORD) override {
    return cancelling_ ? S_FALSE : S_OK;
  }

  // A caller that held on to the object past Stop gets AutoPlay back.
  void Retire() { cancelling_ = false; }

 private:
  ~CancelAutoPlay() { --g_liveObjects; }

  std::atomic<ULONG> references_{1};
  std::atomic<bool> cancelling_{true};
};

// The value naming our class under the CancelAutoplay key. Machine-wide when we may write there; a
// user without that right (the updater runs as the invoker) gets it in the user's own hive, which the
// shell reads as well. A value that was there before Start is left alone by Stop: it is not ours to
// remove, even when it names our class (another updater of ours may be running).
class RegistryMark {
 public:
  LSTATUS Add() {
    LSTATUS status = ERROR_ACCESS_DENIED;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      HKEY opened = nullptr;
      status = RegCreateKeyExW(root, dsscancel::kCancelAutoplayKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                               nullptr, &opened, nullptr);
      const win::ScopedRegKey key(opened);
      if (status != ERROR_SUCCESS) continue;
      if (RegQueryValueExW(key.get(), dsscancel::kClsidText, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) return ERROR_SUCCESS;
      const wchar_t empty[] = L"";
      status = RegSetValueExW(key.get(), dsscancel::kClsidText, 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), sizeof empty);
      if (status == ERROR_SUCCESS) {
        root_ = root;
        return status;
      }
    }
    return status;
  }

  // The key stays: the shell keeps its own values there, and other programs may have added theirs.
  void Remove() {
    if (!root_) return;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root_, dsscancel::kCancelAutoplayKey, 0, KEY_SET_VALUE, &opened) == ERROR_SUCCESS) {
      const win::ScopedRegKey key(opened);
      RegDeleteValueW(key.get(), dsscancel::kClsidText);
    }
    root_ = nullptr;
  }

 private:
  HKEY root_ = nullptr;  // where we added the value; empty when we added none
};

// Everything one Start holds, released by Teardown. Plain pointers on purpose: a library unloaded
// without Stop must not release COM objects from the loader's lock in static destructors.
struct Session {
  bool started = false;
  DWORD thread = 0;
  bool comInitialized = false;
  IRunningObjectTable* rot = nullptr;
  DWORD cookie = 0;
  CancelAutoPlay* object = nullptr;
  RegistryMark mark;
};

CMyCriticalSection g_lock;
Session g_session;

void Teardown(Session& s) {
  s.mark.Remove();
  if (s.cookie) s.rot->Revoke(s.cookie);
  if (s.rot) s.rot->Release();
  if (s.object) {
    s.object->Retire();
    // The shell's proxies keep the object alive through our stub; cut them off, so that our own
    // reference is the last one.
    CoDisconnectObject(s.object, 0);
    s.object->Release();
  }
  if (g_liveObjects != 0) PinModule();
  if (s.comInitialized) CoUninitialize();
  s = Session{};
}

HRESULT Start() {
  Session& s = g_session;
  s.thread = GetCurrentThreadId();
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(hr)) {
    s.comInitialized = true;  // S_FALSE as well: the count went up
  } else if (hr != RPC_E_CHANGED_MODE) {
    return hr;
  }

  s.object = new (std::nothrow) CancelAutoPlay;
  if (!s.object) return E_OUTOFMEMORY;
  if (FAILED(hr = GetRunningObjectTable(0, &s.rot))) return hr;
  IMoniker* moniker = nullptr;
  if (FAILED(hr = CreateClassMoniker(dsscancel::kClsidCancelAutoPlay, &moniker))) return hr;
  // Kept alive by the table, not by the shell's lookups: the shell asks again at every arrival.
  hr = s.rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, s.object, moniker, &s.cookie);
  moniker->Release();
  if (FAILED(hr)) return hr;
  // Without the value the shell would never look for the object.
  if (const LSTATUS status = s.mark.Add(); status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  s.started = true;
  return S_OK;
}

}  // namespace

// S_OK when started, S_FALSE when it was already running, an error (and nothing left behind) otherwise.
STDAPI StartAutoPlayCancel2() {
  const ScopedSection lock(g_lock);
  if (g_session.started) return S_FALSE;
  const HRESULT hr = Start();
  if (FAILED(hr)) Teardown(g_session);
  return hr;
}

// S_OK when stopped, S_FALSE when it was not running. The ROT entry and the COM count belong to the
// thread that started; from any other thread nothing can be undone, and the library stays mapped so
// that the shell's next question does not land in unmapped code.
STDAPI StopAutoPlayCancel() {
  const ScopedSection lock(g_lock);
  if (!g_session.started) return S_FALSE;
  if (GetCurrentThreadId() != g_session.thread) {
    PinModule();
    return RPC_E_WRONG_THREAD;
  }
  Teardown(g_session);
  return S_OK;
}
