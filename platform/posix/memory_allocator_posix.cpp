// The standard memory allocator (CLSID_MemoryAllocator) and its media samples.
// Thread rule: GetBuffer is called by a streaming thread, Commit/Decommit/SetProperties by the control
// thread, and samples come back from whichever thread releases them last; m_mutex guards every field.
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com_object.h"
#include "platform/media_type.h"
#include "platform/posix/runtime_posix.h"

namespace pnx::posix {
namespace {

class MemoryAllocator;

// A sample's reference count starts at 0 in the free list; when it falls back to 0 the sample returns to its
// allocator instead of being deleted. It keeps the allocator alive while it is handed out.
class MediaSample final : public IMediaSample {
 public:
  MediaSample(MemoryAllocator* allocator, BYTE* buffer, LONG size)
      : m_allocator(allocator), m_buffer(buffer), m_size(size) {
    LiveObjectAdded();
  }
  ~MediaSample() {
    ResetProperties();
    LiveObjectRemoved();
  }

  void TakeOut() { m_refs = 1; }
  void ResetProperties() {
    m_actualLength = 0;
    m_timeValid = m_stopValid = m_mediaTimeValid = false;
    m_syncPoint = m_preroll = m_discontinuity = false;
    DeleteMediaType(m_mediaType);
    m_mediaType = nullptr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMediaSample) return HandOut(static_cast<IMediaSample*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) override {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = m_buffer;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return m_size; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    if (!start || !end) return E_POINTER;
    if (!m_timeValid) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = m_start;
    if (m_stopValid) {
      *end = m_stop;
      return S_OK;
    }
    *end = m_start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    m_timeValid = start != nullptr;
    m_stopValid = start != nullptr && end != nullptr;
    m_start = start ? *start : 0;
    m_stop = (start && end) ? *end : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return m_syncPoint ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override {
    m_syncPoint = value != FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return m_preroll ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override {
    m_preroll = value != FALSE;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return m_actualLength; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override {
    if (length < 0 || length > m_size) return VFW_E_BUFFER_OVERFLOW;
    m_actualLength = length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) override {
    if (!ppMediaType) return E_POINTER;
    *ppMediaType = nullptr;
    if (!m_mediaType) return S_FALSE;
    *ppMediaType = CreateMediaType(m_mediaType);
    return *ppMediaType ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* pMediaType) override {
    AM_MEDIA_TYPE* copy = nullptr;
    if (pMediaType) {
      copy = CreateMediaType(pMediaType);
      if (!copy) return E_OUTOFMEMORY;
    }
    DeleteMediaType(m_mediaType);
    m_mediaType = copy;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return m_discontinuity ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override {
    m_discontinuity = value != FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* end) override {
    if (!start || !end) return E_POINTER;
    if (!m_mediaTimeValid) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = m_mediaStart;
    *end = m_mediaStop;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* end) override {
    if (!start || !end) {
      m_mediaTimeValid = false;
      return S_OK;
    }
    m_mediaTimeValid = true;
    m_mediaStart = *start;
    m_mediaStop = *end;
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_refs{0};
  MemoryAllocator* m_allocator;  // uncounted while in the free list, counted while handed out
  BYTE* m_buffer;
  LONG m_size;
  LONG m_actualLength = 0;
  bool m_timeValid = false, m_stopValid = false, m_mediaTimeValid = false;
  bool m_syncPoint = false, m_preroll = false, m_discontinuity = false;
  REFERENCE_TIME m_start = 0, m_stop = 0;
  LONGLONG m_mediaStart = 0, m_mediaStop = 0;
  AM_MEDIA_TYPE* m_mediaType = nullptr;
};

class MemoryAllocator final : public ComObject, public IMemAllocator {
 public:
  ~MemoryAllocator() override { FreeBuffers(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMemAllocator) return HandOut(static_cast<IMemAllocator*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
    if (!request || !actual) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_committed) return VFW_E_ALREADY_COMMITTED;
    if (m_free.size() != m_samples.size()) return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1)) != 0) return VFW_E_BADALIGN;
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
    FreeBuffersLocked();
    m_props = *request;
    *actual = m_props;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override {
    if (!props) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    *props = m_props;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Commit() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_props.cBuffers <= 0 || m_props.cbBuffer <= 0) return VFW_E_SIZENOTSET;
    if (m_committed) return S_OK;
    // Buffers of an earlier commit whose samples are still out are used again.
    if (m_samples.empty()) {
      try {
        for (LONG i = 0; i < m_props.cBuffers; ++i) {
          size_t bytes = static_cast<size_t>(m_props.cbPrefix) + static_cast<size_t>(m_props.cbBuffer) +
                         static_cast<size_t>(m_props.cbAlign);
          m_memory.emplace_back(new BYTE[bytes]);
          uintptr_t base = reinterpret_cast<uintptr_t>(m_memory.back().get()) + m_props.cbPrefix;
          uintptr_t align = static_cast<uintptr_t>(m_props.cbAlign);
          BYTE* data = reinterpret_cast<BYTE*>((base + align - 1) & ~(align - 1));
          m_samples.emplace_back(new MediaSample(this, data, m_props.cbBuffer));
          m_free.push_back(m_samples.back().get());
        }
      } catch (const std::bad_alloc&) {
        FreeBuffersLocked();
        return E_OUTOFMEMORY;
      }
    }
    m_committed = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Decommit() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_committed) return S_OK;
    m_committed = false;
    // Waiting GetBuffer calls give up; the memory goes once every sample is back.
    m_available.notify_all();
    if (m_free.size() == m_samples.size()) FreeBuffersLocked();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                      DWORD flags) override {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = nullptr;
    MediaSample* sample = nullptr;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      for (;;) {
        if (!m_committed) return VFW_E_NOT_COMMITTED;
        if (!m_free.empty()) break;
        if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
        m_available.wait(lock);
      }
      sample = m_free.back();
      m_free.pop_back();
      sample->TakeOut();
    }
    AddRef();  // released when the sample comes back
    *ppBuffer = sample;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* buffer) override {
    if (!buffer) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& owned : m_samples) {
      if (owned.get() == buffer) {
        m_free.push_back(owned.get());
        if (!m_committed && m_free.size() == m_samples.size()) {
          FreeBuffersLocked();
        } else {
          m_available.notify_one();
        }
        return S_OK;
      }
    }
    return E_INVALIDARG;
  }

 private:
  void FreeBuffers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    FreeBuffersLocked();
  }
  void FreeBuffersLocked() {
    m_free.clear();
    m_samples.clear();
    m_memory.clear();
  }

  std::mutex m_mutex;
  std::condition_variable m_available;
  ALLOCATOR_PROPERTIES m_props{0, 0, 1, 0};
  bool m_committed = false;
  std::vector<std::unique_ptr<BYTE[]>> m_memory;
  std::vector<std::unique_ptr<MediaSample>> m_samples;
  std::vector<MediaSample*> m_free;
};

ULONG MediaSample::Release() {
  ULONG left = --m_refs;
  if (left == 0) {
    // The allocator may free this sample while taking it back: nothing of it is touched afterwards.
    MemoryAllocator* allocator = m_allocator;
    ResetProperties();
    allocator->ReleaseBuffer(this);
    allocator->Release();
  }
  return left;
}

}  // namespace

HRESULT CreateMemoryAllocator(REFIID riid, void** ppv) { return CreateComObject<MemoryAllocator>(riid, ppv); }

}  // namespace pnx::posix
