// The emulated node's source filter; see source_filter.h.
#include "platform/emulator/source_filter.h"

#include "platform/emulator/emulator.h"
#include "platform/vendor_properties.h"

namespace emulator {

SourceFilter::SourceFilter() : FilterBase(CLSID_BrelvonEmulatedSource, &m_filterLock), m_pin(this, &m_filterLock) {}

SourceFilter::~SourceFilter() {
  CriticalSection::Scoped lock(m_filterLock);
  m_pin.Inactive();
}

// The decoder and the vendor property set are there only for the nodes that have them.
HRESULT SourceFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IPersistPropertyBag)) return pnx::HandOut(static_cast<IPersistPropertyBag*>(this), out);
  if (IsEqualIID(iid, IID_IAMAnalogVideoDecoder) || IsEqualIID(iid, IID_IKsPropertySet)) {
    std::shared_ptr<const NodeConfig> node = Node();
    if (IsEqualIID(iid, IID_IAMAnalogVideoDecoder) && node && node->decoder) {
      return pnx::HandOut(static_cast<IAMAnalogVideoDecoder*>(this), out);
    }
    if (IsEqualIID(iid, IID_IKsPropertySet) && node && node->propertySet) {
      return pnx::HandOut(static_cast<IKsPropertySet*>(this), out);
    }
    return E_NOINTERFACE;
  }
  return FilterBase::NonDelegatingQueryInterface(iid, out);
}

HRESULT SourceFilter::GetClassID(CLSID* clsid) { return FilterBase::GetClassID(clsid); }

int SourceFilter::GetPinCount() { return 1; }

PinBase* SourceFilter::GetPin(int index) { return index == 0 ? &m_pin : nullptr; }

std::shared_ptr<const NodeConfig> SourceFilter::Node() {
  CriticalSection::Scoped lock(m_filterLock);
  return m_node;
}

void SourceFilter::OnStateChanged(FILTER_STATE state) {
  if (m_node) TraceState(m_node->nameUtf8, state);
}

void SourceFilter::TraceFormatChange(const Format& format) {
  CriticalSection::Scoped lock(m_filterLock);
  if (m_node) TraceFormat(m_node->nameUtf8, format);
}

HRESULT SourceFilter::get_AvailableTVFormats(LONG* formats) {
  if (!formats) return E_POINTER;
  *formats = 0;  // no analog standard
  return S_OK;
}
HRESULT SourceFilter::put_TVFormat(LONG) { return E_NOTIMPL; }
HRESULT SourceFilter::get_TVFormat(LONG* format) {
  if (!format) return E_POINTER;
  *format = 0;
  return S_OK;
}

HRESULT SourceFilter::get_HorizontalLocked(LONG* locked) {
  if (!locked) return E_POINTER;
  std::shared_ptr<const NodeConfig> node = Node();
  DeviceView view;
  if (node && !DevicePresent(node->deviceNumber)) return HRESULT_FROM_WIN32(1167);  // not connected
  if (!node || !ReadDeviceView(node->deviceNumber, &view)) return E_FAIL;
  *locked = view.signal[node->input - 1] ? 1 : 0;
  return S_OK;
}

HRESULT SourceFilter::put_VCRHorizontalLocking(LONG) { return E_NOTIMPL; }
HRESULT SourceFilter::get_VCRHorizontalLocking(LONG*) { return E_NOTIMPL; }
HRESULT SourceFilter::get_NumberOfLines(LONG*) { return E_NOTIMPL; }
HRESULT SourceFilter::put_OutputEnable(LONG) { return E_NOTIMPL; }
HRESULT SourceFilter::get_OutputEnable(LONG* value) {
  if (!value) return E_POINTER;
  *value = 1;
  return S_OK;
}

HRESULT SourceFilter::Set(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size) {
  if (set != vendor::kPropertySet) return E_PROP_SET_UNSUPPORTED;
  std::shared_ptr<const NodeConfig> node = Node();
  if (!node) return E_UNEXPECTED;
  const BYTE* bytes = static_cast<const BYTE*>(data);
  HRESULT hr = bytes ? SetDeviceProperty(node->deviceNumber, id, bytes, size) : E_POINTER;
  TraceProperty(node->nameUtf8, true, id, bytes, size, hr);
  return hr;
}

HRESULT SourceFilter::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) {
  if (set != vendor::kPropertySet) return E_PROP_SET_UNSUPPORTED;
  std::shared_ptr<const NodeConfig> node = Node();
  if (!node) return E_UNEXPECTED;
  BYTE* bytes = static_cast<BYTE*>(data);
  DWORD count = 0;
  HRESULT hr = bytes ? GetDeviceProperty(node->deviceNumber, id, bytes, size, &count) : E_POINTER;
  if (returned) *returned = count;
  TraceProperty(node->nameUtf8, false, id, SUCCEEDED(hr) ? bytes : nullptr, count, hr);
  return hr;
}

HRESULT SourceFilter::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != vendor::kPropertySet) return E_PROP_SET_UNSUPPORTED;
  if (!support) return E_POINTER;
  if (!PropertyIdKnown(id, false)) return E_PROP_ID_UNSUPPORTED;
  *support = KSPROPERTY_SUPPORT_GET | (PropertyIdKnown(id, true) ? KSPROPERTY_SUPPORT_SET : 0);
  return S_OK;
}

HRESULT SourceFilter::InitNew() { return S_OK; }

HRESULT SourceFilter::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  VARIANT name;
  VariantInit(&name);
  name.vt = VT_BSTR;
  HRESULT hr = bag->Read(L"FriendlyName", &name, log);
  if (FAILED(hr)) return hr;
  std::wstring friendlyName = name.vt == VT_BSTR && name.bstrVal ? std::wstring(name.bstrVal) : std::wstring();
  VariantClear(&name);
  std::shared_ptr<const NodeConfig> node = FindNode(friendlyName);
  if (!node) return E_FAIL;
  CriticalSection::Scoped lock(m_filterLock);
  if (m_node) return E_UNEXPECTED;  // a filter serves one node for its life
  m_node = node;
  m_pin.SetFormats(node->formats, node->refuseFormat);
  return S_OK;
}

HRESULT SourceFilter::Save(IPropertyBag*, BOOL, BOOL) { return E_NOTIMPL; }

HRESULT CreateSourceFilter(REFIID riid, void** ppv) { return pnx::CreateComObject<SourceFilter>(riid, ppv); }

}  // namespace emulator
