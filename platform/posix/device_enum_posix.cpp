// The system device enumerator (CLSID_SystemDeviceEnum) over the emulated device's nodes: class
// enumerators of monikers, each moniker with a property bag ("FriendlyName") and a bind to the node's
// source filter made as the platform does it (create the class, then load it from the bag).
#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/emulator/emulator.h"
#include "platform/posix/runtime_posix.h"

namespace pnx::posix {
namespace {

class PropertyBag final : public ComObject, public IPropertyBag {
 public:
  explicit PropertyBag(std::wstring friendlyName) : friendlyName_(std::move(friendlyName)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) return HandOut(static_cast<IPropertyBag*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* var, IErrorLog*) override {
    if (!name || !var) return E_POINTER;
    if (std::wstring(name) != L"FriendlyName") return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (var->vt != VT_EMPTY && var->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    BSTR value = SysAllocString(friendlyName_.c_str());
    if (!value) return E_OUTOFMEMORY;
    VariantClear(var);
    var->vt = VT_BSTR;
    var->bstrVal = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

 private:
  std::wstring friendlyName_;
};

class DeviceMoniker final : public ComObject, public IMoniker {
 public:
  explicit DeviceMoniker(std::wstring friendlyName) : friendlyName_(std::move(friendlyName)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMoniker) return HandOut(static_cast<IMoniker*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

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
    return CreateComObject<PropertyBag>(riid, ppv, friendlyName_);
  }

 private:
  std::wstring friendlyName_;
};

class MonikerEnum final : public ComObject, public IEnumMoniker {
 public:
  MonikerEnum(std::vector<std::wstring> names, size_t position) : names_(std::move(names)), position_(position) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumMoniker) return HandOut(static_cast<IEnumMoniker*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
    return EnumNext(position_, names_.size(), count, monikers, fetched, [this](size_t i, IMoniker** slot) {
      return SUCCEEDED(CreateComObject<DeviceMoniker>(IID_IMoniker, reinterpret_cast<void**>(slot), names_[i]));
    });
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return EnumSkip(position_, names_.size(), count); }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    return CreateComObject<MonikerEnum>(IID_IEnumMoniker, reinterpret_cast<void**>(ppEnum), names_, position_);
  }

 private:
  std::vector<std::wstring> names_;
  size_t position_;
};

class SystemDeviceEnum final : public ComObject, public ICreateDevEnum {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ICreateDevEnum) return HandOut(static_cast<ICreateDevEnum*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

  // S_FALSE with no enumerator for an empty (or unknown) category, as the platform answers.
  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** ppEnum, DWORD) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (category != CLSID_VideoInputDeviceCategory) return S_FALSE;
    std::vector<std::wstring> names = emulator::VideoInputNodeNames();
    if (names.empty()) return S_FALSE;
    return CreateComObject<MonikerEnum>(IID_IEnumMoniker, reinterpret_cast<void**>(ppEnum), std::move(names),
                                        size_t{0});
  }
};

}  // namespace

HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv) { return CreateComObject<SystemDeviceEnum>(riid, ppv); }

}  // namespace pnx::posix
