// The capture graph builder (CLSID_CaptureGraphBuilder2): attached to a graph, finds pins by direction,
// category, major type, connection and index. Called from the control thread only.
#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/media_type.h"
#include "platform/posix/runtime_posix.h"

namespace pnx::posix {
namespace {

bool PinHasCategory(IPin* pin, const GUID& category) {
  ComPtr<IKsPropertySet> props;
  ComPtr<IPin> holder(pin);
  if (FAILED(holder.As(IID_IKsPropertySet, &props))) return false;
  GUID value{};
  DWORD returned = 0;
  if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &value, sizeof(value), &returned)))
    return false;
  return returned == sizeof(value) && value == category;
}

bool PinOffersMajorType(IPin* pin, const GUID& major) {
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.Receive()))) return false;
  MediaTypePtr pmt;
  while (types->Next(1, pmt.Receive(), nullptr) == S_OK) {
    if (pmt->majortype == major) return true;
  }
  return false;
}

bool PinMatches(IPin* pin, PIN_DIRECTION dir, const GUID* category, const GUID* type, BOOL unconnected) {
  PIN_DIRECTION actual;
  if (FAILED(pin->QueryDirection(&actual)) || actual != dir) return false;
  if (unconnected) {
    ComPtr<IPin> peer;
    if (SUCCEEDED(pin->ConnectedTo(peer.Receive()))) return false;
  }
  if (category && !PinHasCategory(pin, *category)) return false;
  if (type && !PinOffersMajorType(pin, *type)) return false;
  return true;
}

class CaptureGraphBuilder final : public ComObject, public ICaptureGraphBuilder2 {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ICaptureGraphBuilder2)
      return HandOut(static_cast<ICaptureGraphBuilder2*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

  HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) override {
    if (!graph) return E_POINTER;
    if (m_graph) return E_UNEXPECTED;
    m_graph = ComPtr<IGraphBuilder>(graph);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** ppfg) override {
    if (!ppfg) return E_POINTER;
    *ppfg = nullptr;
    if (!m_graph) return E_UNEXPECTED;
    return m_graph.CopyTo(ppfg);
  }
  HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter**, IFileSinkFilter**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindInterface(const GUID*, const GUID*, IBaseFilter*, REFIID, void** ppint) override {
    if (ppint) *ppint = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RenderStream(const GUID*, const GUID*, IUnknown*, IBaseFilter*, IBaseFilter*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*,
                                          WORD, WORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override {
    return E_NOTIMPL;
  }

  // pSource is a filter or a pin; E_FAIL when no pin matches.
  HRESULT STDMETHODCALLTYPE FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                                    BOOL unconnected, int num, IPin** ppPin) override {
    if (!source || !ppPin) return E_POINTER;
    *ppPin = nullptr;
    ComPtr<IUnknown> unknown(source);
    ComPtr<IPin> asPin;
    if (SUCCEEDED(unknown.As(IID_IPin, &asPin))) {
      if (num != 0 || !PinMatches(asPin.Get(), dir, category, type, unconnected)) return E_FAIL;
      return asPin.CopyTo(ppPin);
    }
    ComPtr<IBaseFilter> filter;
    HRESULT hr = unknown.As(IID_IBaseFilter, &filter);
    if (FAILED(hr)) return E_NOINTERFACE;
    ComPtr<IEnumPins> pins;
    hr = filter->EnumPins(pins.Receive());
    if (FAILED(hr)) return hr;
    ComPtr<IPin> pin;
    int index = 0;
    while (pins->Next(1, pin.Receive(), nullptr) == S_OK) {
      if (!PinMatches(pin.Get(), dir, category, type, unconnected)) continue;
      if (index++ == num) return pin.CopyTo(ppPin);
    }
    return E_FAIL;
  }

 private:
  ComPtr<IGraphBuilder> m_graph;
};

}  // namespace

HRESULT CreateCaptureGraphBuilder(REFIID riid, void** ppv) { return CreateComObject<CaptureGraphBuilder>(riid, ppv); }

}  // namespace pnx::posix
