// The emulated node's one output pin, "Capture": the formats of the node, IAMStreamConfig to choose one, and a
// streaming thread that draws and delivers the frames.
// Thread rule: the control thread calls the COM methods and the state hooks under the filter's lock (m_lock),
// which guards the formats and the connection; while the filter runs, the pin's own streaming thread works on
// copies of the connection taken at Run and only waits on streamMutex_.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com_object.h"
#include "platform/emulator/emulator_state.h"
#include "platform/filters/output_pin_base.h"

namespace emulator {

class SourceFilter;

class CapturePin final : public OutputPinBase, public IAMStreamConfig, public IKsPropertySet {
 public:
  // filter owns the pin; lock is the filter's.
  CapturePin(SourceFilter* filter, CriticalSection* lock);
  ~CapturePin() override;

  // Adds IAMStreamConfig and IKsPropertySet to the base's interfaces.
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IUnknown, for every interface of the pin: counted on the filter.
  PNX_COM_UNKNOWN_OF(PinBase)

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

  // The types offered: the format chosen with SetFormat, else every format of the node.
  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;

  // Filter state changes, under the filter's lock.
  HRESULT Inactive() override;  // -> stopped: the thread ends and is joined, the allocator decommitted
  // -> running; samples are stamped with the graph clock's time at capture less start.
  HRESULT Run(REFERENCE_TIME start) override;
  // running -> paused: delivery ends, the thread stays. Nothing waits for it here: it may be blocked in a
  // downstream filter that the graph paused first and releases only when the graph stops it.
  void EndRun() override;

  // The node became known (IPersistPropertyBag::Load).
  void SetFormats(std::vector<Format> formats, bool refuseFormat = false);

 protected:
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  LONG SampleBytes() override;

 private:
  std::vector<Format> Offered() const;
  void StartStreaming(REFERENCE_TIME timeOffset);
  void StopStreaming();
  void StreamLoop(ComPtr<IMemAllocator> allocator, ComPtr<IMemInputPin> input, Format connection, Format sent,
                  std::shared_ptr<const NodeConfig> node);

  SourceFilter* const source_;  // uncounted back pointer: the filter owns the pin
  std::vector<Format> formats_;
  bool formatSet_ = false;
  bool refuseFormat_ = false;
  Format setFormat_{};
  Format connectionFormat_{};
  // The format of the frames last delivered on this connection: it differs from connectionFormat_ after a
  // change of the running frame size. The streaming thread's while it runs; it is handed back by the join.
  Format sentFormat_{};

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

}  // namespace emulator
