// The emulated node's one output pin, "Capture": the formats of the node, IAMStreamConfig to choose one, and a
// streaming thread that draws and delivers the frames.
// Thread rule: the control thread calls the COM methods and the state hooks under the filter's lock (m_lock),
// which guards the formats and the connection; while the filter runs, the pin's own streaming thread works on
// copies of the connection taken at Run and only waits on m_streamMutex.
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

  SourceFilter* const m_source;  // uncounted back pointer: the filter owns the pin
  std::vector<Format> m_formats;
  bool m_formatSet = false;
  bool m_refuseFormat = false;
  Format m_setFormat{};
  Format m_connectionFormat{};
  // The format of the frames last delivered on this connection: it differs from m_connectionFormat after a
  // change of the running frame size. The streaming thread's while it runs; it is handed back by the join.
  Format m_sentFormat{};

  std::thread m_thread;
  std::mutex m_streamMutex;
  std::condition_variable m_streamWake;
  // Guarded by m_streamMutex: the thread ends at m_stopping, delivers while m_delivering, and starts a new run
  // (times from 0 plus m_timeOffset) whenever m_runNumber changes.
  bool m_stopping = false;
  bool m_delivering = false;
  uint64_t m_runNumber = 0;
  REFERENCE_TIME m_timeOffset = 0;
};

}  // namespace emulator
