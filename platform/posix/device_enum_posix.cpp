// The system device enumerator (CLSID_SystemDeviceEnum) over the emulated device's nodes: class
// enumerators of monikers, each moniker with a property bag ("FriendlyName") and a bind to the node's
// source filter made as the platform does it (create the class, then load it from the bag).
#include <string>
#include <vector>

#include "platform/com_enumerator.h"
#include "platform/com_ptr.h"
#include "platform/emulator/emulator.h"
#include "platform/posix/runtime_posix.h"

namespace pnx::posix {
namespace {

class PropertyBag final : public SingleInterfaceObject<IPropertyBag> {
 public:
  explicit PropertyBag(std::wstring friendlyName)
      : SingleInterfaceObject(IID_IPropertyBag), m_friendlyName(std::move(friendlyName)) {}

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* var, IErrorLog*) override {
    if (!name || !var) return E_POINTER;
    if (std::wstring(name) != L"FriendlyName") return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (var->vt != VT_EMPTY && var->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    BSTR value = SysAllocString(m_friendlyName.c_str());
    if (!value) return E_OUTOFMEMORY;
    VariantClear(var);
    var->vt = VT_BSTR;
    var->bstrVal = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

 private:
  std::wstring m_friendlyName;
};

class DeviceMoniker final : public SingleInterfaceObject<IMoniker> {
 public:
  explicit DeviceMoniker(std::wstring friendlyName)
      : SingleInterfaceObject(IID_IMoniker), m_friendlyName(std::move(friendlyName)) {}

  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComPtr<IPersistPropertyBag> persist;
    HRESULT hr = emulator::CreateSourceFilter(IID_IPersistPropertyBag, persist.ReceiveVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IPropertyBag> bag;
    hr = BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid());
    if (FAILED(hr)) return hr;
    hr = persist->Load(bag.Get(), nullptr);
    if (FAILED(hr)) return hr;
    return persist->QueryInterface(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IPropertyBag) return E_NOINTERFACE;
    return CreateComObject<PropertyBag>(riid, ppv, m_friendlyName);
  }

 private:
  std::wstring m_friendlyName;
};

class MonikerEnum final : public Enumerator<MonikerEnum, IEnumMoniker, IMoniker> {
 public:
  explicit MonikerEnum(std::vector<std::wstring> names) : Enumerator(IID_IEnumMoniker), m_names(std::move(names)) {}

 private:
  size_t Count() override { return m_names.size(); }
  HRESULT Make(size_t index, IMoniker** slot) override {
    return CreateComObject<DeviceMoniker>(IID_IMoniker, reinterpret_cast<void**>(slot), m_names[index]);
  }

  const std::vector<std::wstring> m_names;
};

class SystemDeviceEnum final : public SingleInterfaceObject<ICreateDevEnum> {
 public:
  SystemDeviceEnum() : SingleInterfaceObject(IID_ICreateDevEnum) {}

  // S_FALSE with no enumerator for an empty (or unknown) category, as the platform answers.
  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** ppEnum, DWORD) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (category != CLSID_VideoInputDeviceCategory) return S_FALSE;
    std::vector<std::wstring> names = emulator::VideoInputNodeNames();
    if (names.empty()) return S_FALSE;
    return CreateComObject<MonikerEnum>(IID_IEnumMoniker, reinterpret_cast<void**>(ppEnum), std::move(names));
  }
};

}  // namespace

HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv) { return CreateComObject<SystemDeviceEnum>(riid, ppv); }

}  // namespace pnx::posix
