// PinBase: the default answers of IPin and IQualityControl for a pin owned by a FilterBase; InputPinBase and
// OutputPinBase add what each direction needs.
//
// Threads: the control thread connects, disconnects and queries; the streaming thread may call EndOfStream,
// NewSegment and the flush notifications. The filter's lock (m_lock) guards m_connected, m_mediaType,
// m_qualitySink and the segment fields; the pin has no reference count of its own (its AddRef and Release go to
// the owning filter, so a reference to the pin keeps the filter alive).
#pragma once

#include <atomic>

#include "platform/filters/critical_section.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"
#include "platform/media_type.h"

class FilterBase;

// A second identifier under which a pin hands out its IQualityControl, besides IID_IQualityControl.
// {6BC096AB-0CE6-11D1-BAAE-00C04FC2E20D}
inline constexpr IID kAlternateQualityControlIid = {
    0x6bc096ab, 0x0ce6, 0x11d1, {0xba, 0xae, 0x00, 0xc0, 0x4f, 0xc2, 0xe2, 0x0d}};

class PinBase : public IPin, public IQualityControl {
 public:
  PinBase(const PinBase&) = delete;
  PinBase& operator=(const PinBase&) = delete;
  virtual ~PinBase();

  virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** out);

  // IUnknown: counted on the owning filter.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override = 0;
  HRESULT STDMETHODCALLTYPE EndFlush() override = 0;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IQualityControl
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;
  HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

  // Called by the filter under its lock when it changes state, for a connected pin: stopped -> paused
  // (Active), -> stopped (Inactive), -> running (Run), running -> paused (EndRun).
  virtual HRESULT Active() { return S_OK; }
  virtual HRESULT Inactive() { return S_OK; }
  virtual HRESULT Run(REFERENCE_TIME /*start*/) { return S_OK; }
  virtual void EndRun() {}

  // The media types the pin proposes, by position (S_OK up to the last one); none by default.
  virtual HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type);
  // Changes whenever the types GetMediaType offers change; a type enumerator started at another version is out
  // of sync.
  LONG GetMediaTypeVersion();

  bool IsConnected();
  const WCHAR* Name() const { return m_name; }

 protected:
  // name must outlive the pin (a literal). filter and lock belong to the owning filter.
  PinBase(FilterBase* filter, CriticalSection* lock, const WCHAR* name, PIN_DIRECTION direction);

  // Connection steps, in the order the platform calls them; each runs under m_lock.
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type);
  virtual HRESULT CompleteConnect(IPin* /*receivePin*/) { return S_OK; }
  virtual HRESULT BreakConnect() { return S_OK; }

  void IncrementMediaTypeVersion();

  FilterBase* const m_filter;  // uncounted: the filter owns the pin
  CriticalSection* const m_lock;
  const PIN_DIRECTION m_direction;
  bool m_runTimeError = false;

 private:
  HRESULT AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE* type);
  // The checks both ends of a connection make before it exists; breaks the connection on failure.
  HRESULT AgreeConnection(IPin* other, const AM_MEDIA_TYPE* type);
  HRESULT TryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* filter, IEnumMediaTypes* types);

  const WCHAR* const m_name;
  ComPtr<IPin> m_connected;
  MediaType m_mediaType;
  IQualityControl* m_qualitySink = nullptr;  // uncounted, as the platform prescribes
  std::atomic<LONG> m_mediaTypeVersion{1};
  REFERENCE_TIME m_segmentStart = 0;
  REFERENCE_TIME m_segmentStop = 0x7FFFFFFFFFFFFFFFLL;
  double m_segmentRate = 1.0;
};
