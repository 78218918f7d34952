#include "tools/simdevice/sim_node_loader.h"

#include <cwchar>
#include <string>
#include <vector>

#include "tools/simdevice/emulator_nodes.h"
#include "tools/simdevice/sim_device_ids.h"

namespace {

// Reads one property into a VARIANT that is cleared on every path.
class VariantHolder {
 public:
  VariantHolder() { VariantInit(&v_); }
  ~VariantHolder() { VariantClear(&v_); }
  VariantHolder(const VariantHolder&) = delete;
  VariantHolder& operator=(const VariantHolder&) = delete;
  VARIANT* get() { return &v_; }

 private:
  VARIANT v_;
};

// The node position the registration wrote into the bag; the registry may hand it back as a number or,
// depending on how the value was stored, as a string.
bool ReadNodeIndex(IPropertyBag* bag, size_t* index) {
  VariantHolder value;
  if (FAILED(bag->Read(kSimNodeProperty, value.get(), nullptr))) return false;
  VARIANT* v = value.get();
  if (V_VT(v) == VT_I4 && V_I4(v) >= 0) {
    *index = static_cast<size_t>(V_I4(v));
    return true;
  }
  if (V_VT(v) == VT_BSTR && V_BSTR(v)) {
    wchar_t* end = nullptr;
    unsigned long n = std::wcstoul(V_BSTR(v), &end, 10);
    if (end == V_BSTR(v) || *end != L'\0') return false;
    *index = n;
    return true;
  }
  return false;
}

bool ReadFriendlyName(IPropertyBag* bag, std::wstring* name) {
  VariantHolder value;
  if (FAILED(bag->Read(L"FriendlyName", value.get(), nullptr))) return false;
  if (V_VT(value.get()) != VT_BSTR || !V_BSTR(value.get())) return false;
  name->assign(V_BSTR(value.get()));
  return true;
}

}  // namespace

SimNodeLoader::SimNodeLoader() = default;
SimNodeLoader::~SimNodeLoader() = default;

HRESULT SimNodeLoader::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) ||
      IsEqualIID(iid, IID_IPersistPropertyBag)) {
    *out = static_cast<IPersistPropertyBag*>(this);
    AddRef();
    return S_OK;
  }
  // Everything else is the node's filter, which exists only after Load.
  if (!filter_) return E_NOINTERFACE;
  return filter_->QueryInterface(iid, out);
}

ULONG SimNodeLoader::AddRef() { return ++refs_; }

ULONG SimNodeLoader::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT SimNodeLoader::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = kSimDeviceClsid;
  return S_OK;
}

// A node must be named by its bag: there is no node to stand for without one.
HRESULT SimNodeLoader::InitNew() { return E_NOTIMPL; }

HRESULT SimNodeLoader::Load(IPropertyBag* bag, IErrorLog*) {
  if (!bag) return E_POINTER;
  if (filter_) return E_UNEXPECTED;
  size_t index = 0;
  std::wstring friendlyName;
  if (!ReadNodeIndex(bag, &index) || !ReadFriendlyName(bag, &friendlyName)) return E_INVALIDARG;
  // The registering process and this one each read the configuration; a registration made from another
  // configuration must not bind some other node under this name.
  std::vector<std::wstring> names = EmulatorNodeNames();
  if (index >= names.size() || names[index] != friendlyName) return E_FAIL;
  ComPtr<IBaseFilter> filter;
  HRESULT hr = CreateEmulatorNodeFilter(index, filter.Receive());
  if (FAILED(hr)) return hr;
  filter_ = std::move(filter);
  return S_OK;
}

HRESULT SimNodeLoader::Save(IPropertyBag*, BOOL, BOOL) { return E_NOTIMPL; }
