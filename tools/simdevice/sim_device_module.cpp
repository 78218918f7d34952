// Entry points of the emulated device's in-process COM server: the class factory for the one node class
// and self-registration. Only tests use this DLL; the product never loads it.
#include <string>

#include "platform/com.h"
#include "platform/emulator/emulator.h"
#include "tools/simdevice/sim_registration.h"
#include "tools/simdevice/uncounted_com_object.h"

namespace {

HMODULE g_module = nullptr;

// Stateless and static. Each object it makes is a node's source filter that learns its node from the
// property bag when the moniker is bound.
class SimNodeFactory final : public UncountedComObject<IClassFactory> {
 public:
  SimNodeFactory() : UncountedComObject(IID_IClassFactory) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return emulator::CreateSourceFilter(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

SimNodeFactory g_factory;

// COM for the registering thread; left as found when it was initialised already in another mode.
class ComScope {
 public:
  ComScope() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }
  HRESULT result() const { return m_hr == RPC_E_CHANGED_MODE ? S_OK : m_hr; }

 private:
  HRESULT m_hr;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, emulator::CLSID_BrelvonEmulatedSource)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

// Never unloaded: a device's property state lives in this module for the whole process (every bind
// makes a new filter object), and node streaming threads run its code.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  ComScope com;
  if (FAILED(com.result())) return com.result();
  return RegisterSimDevice(std::wstring(path, length));
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  ComScope com;
  if (FAILED(com.result())) return com.result();
  return UnregisterSimDevice();
}
