// The emulated node's source filter and its one output pin ("Capture").
// Thread rule: the control thread calls the COM methods; while the filter runs, the pin's own streaming
// thread delivers samples downstream. filterLock_ guards state, graph, name, clock, node, formats and the
// connection; the streaming thread touches none of them (it works on copies) and only waits on streamMutex_.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"
#include "platform/emulator/emulator_state.h"
#include "platform/media_type.h"

namespace emulator {

class SourceFilter;

class CapturePin final : public IPin, public IAMStreamConfig, public IKsPropertySet {
 public:
  explicit CapturePin(SourceFilter* filter) : filter_(filter) {}
  ~CapturePin();

  // IUnknown: the count is the filter's.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IAMStreamConfig
  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** pmt) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** pmt, BYTE* caps) override;

  // IKsPropertySet: the pin category (capture).
  HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                                DWORD size) override;
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                                DWORD size, DWORD* returned) override;
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // Filter state changes, under the filter's lock.
  HRESULT Active();         // stopped -> paused: commits the allocator
  void Inactive();          // -> stopped: ends streaming, decommits the allocator
  // -> running; samples are stamped timeOffset + n / fps (see SourceFilter::Run).
  void StartStreaming(REFERENCE_TIME timeOffset);
  // running -> paused: delivery ends, the thread stays. Nothing waits for it here: it may be blocked in a
  // downstream filter that the graph paused first and releases only when the graph stops it.
  void PauseStreaming();
  void StopStreaming();     // -> stopped: the thread ends and is joined
  bool IsConnected() const { return connected_ != nullptr; }
  // The node became known (IPersistPropertyBag::Load).
  void SetFormats(std::vector<Format> formats);

 private:
  struct Candidate {
    MediaType type;
    Format format;
  };
  std::vector<Candidate> Candidates() const;
  bool FindFormat(const AM_MEDIA_TYPE& pmt, Format* format) const;
  HRESULT DecideAllocator(IMemInputPin* input, const Format& format, ComPtr<IMemAllocator>* out);
  void StreamLoop(ComPtr<IMemAllocator> allocator, ComPtr<IMemInputPin> input, Format format,
                  std::shared_ptr<const NodeConfig> node);

  SourceFilter* filter_;  // owner; the pin lives inside it
  std::vector<Format> formats_;
  bool formatSet_ = false;
  Format setFormat_{};
  ComPtr<IPin> connected_;
  ComPtr<IMemInputPin> input_;
  ComPtr<IMemAllocator> allocator_;
  MediaType connectionType_;
  Format connectionFormat_{};

  std::thread thread_;
  std::mutex streamMutex_;
  std::condition_variable streamWake_;
  // Guarded by streamMutex_: the thread ends at stopping_, delivers while delivering_, and starts a new run
  // (times from 0 plus timeOffset_) whenever runNumber_ changes.
  bool stopping_ = false;
  bool delivering_ = false;
  uint64_t runNumber_ = 0;
  REFERENCE_TIME timeOffset_ = 0;
};

class SourceFilter final : public pnx::ComObject,
                           public IBaseFilter,
                           public IAMAnalogVideoDecoder,
                           public IKsPropertySet,
                           public IPersistPropertyBag {
 public:
  SourceFilter();
  ~SourceFilter() override;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  PNX_COM_REFCOUNT

  // IPersist (shared by IBaseFilter and IPersistPropertyBag)
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

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

  // For the pin.
  std::recursive_mutex& Lock() { return filterLock_; }
  FILTER_STATE StateLocked() const { return state_; }
  IFilterGraph* GraphLocked() const { return graph_; }
  std::shared_ptr<const NodeConfig> NodeLocked() const { return node_; }
  void TraceFormatChange(const Format& format);

 private:
  void SetStateLocked(FILTER_STATE state);

  std::recursive_mutex filterLock_;
  FILTER_STATE state_ = State_Stopped;
  IFilterGraph* graph_ = nullptr;  // uncounted, as the graph holds the filter
  std::wstring name_;
  ComPtr<IReferenceClock> clock_;
  std::shared_ptr<const NodeConfig> node_;
  CapturePin pin_;
};

}  // namespace emulator
