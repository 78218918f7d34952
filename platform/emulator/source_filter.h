// The emulated node's source filter: one capture pin (capture_pin.h), the signal lock through
// IAMAnalogVideoDecoder, the device's vendor property set, and IPersistPropertyBag to learn its node.
// Thread rule: the control thread calls the COM methods; m_filterLock guards the state, graph, name, clock, node
// and the pin's formats and connection. The pin's streaming thread touches none of them.
#pragma once

#include <memory>

#include "platform/com_object.h"
#include "platform/emulator/capture_pin.h"
#include "platform/emulator/emulator_state.h"
#include "platform/filters/filter_base.h"

namespace emulator {

class SourceFilter final : public FilterBase,
                           public IAMAnalogVideoDecoder,
                           public IKsPropertySet,
                           public IPersistPropertyBag {
 public:
  // Count 0 (see FilterBase); a filter without a node has no formats until Load.
  SourceFilter();

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IUnknown, for every interface of the filter.
  PNX_COM_UNKNOWN_OF(FilterBase)

  // IPersist (shared by IBaseFilter and IPersistPropertyBag)
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;

  // IAMAnalogVideoDecoder: the input's signal lock; the rest describes a digital input.
  HRESULT STDMETHODCALLTYPE get_AvailableTVFormats(LONG* formats) override;
  HRESULT STDMETHODCALLTYPE put_TVFormat(LONG format) override;
  HRESULT STDMETHODCALLTYPE get_TVFormat(LONG* format) override;
  HRESULT STDMETHODCALLTYPE get_HorizontalLocked(LONG* locked) override;
  HRESULT STDMETHODCALLTYPE put_VCRHorizontalLocking(LONG value) override;
  HRESULT STDMETHODCALLTYPE get_VCRHorizontalLocking(LONG* value) override;
  HRESULT STDMETHODCALLTYPE get_NumberOfLines(LONG* lines) override;
  HRESULT STDMETHODCALLTYPE put_OutputEnable(LONG value) override;
  HRESULT STDMETHODCALLTYPE get_OutputEnable(LONG* value) override;

  // IKsPropertySet: the vendor control set of the device.
  HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                                DWORD size) override;
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                                DWORD size, DWORD* returned) override;
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // IPersistPropertyBag
  HRESULT STDMETHODCALLTYPE InitNew() override;
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

  // FilterBase
  int GetPinCount() override;
  PinBase* GetPin(int index) override;

  // For the pin. Node is null until Load; both take the filter lock.
  std::shared_ptr<const NodeConfig> Node();
  void TraceFormatChange(const Format& format);

 protected:
  // A live source: it has nothing to show while paused.
  bool IsLiveSource() const override { return true; }
  void OnStateChanged(FILTER_STATE state) override;

 private:
  ~SourceFilter() override;

  // Declared in this order so that the pin goes first and the lock last.
  CriticalSection m_filterLock;
  std::shared_ptr<const NodeConfig> m_node;
  CapturePin m_pin;
};

}  // namespace emulator
