// The standard memory allocator (CLSID_MemoryAllocator) and its media samples.
// Thread rule: GetBuffer is called by a streaming thread, Commit/Decommit/SetProperties by the control
// thread, and samples come back from whichever thread releases them last; mutex_ guards every field.
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
      : allocator_(allocator), buffer_(buffer), size_(size) {
    LiveObjectAdded();
  }
  ~MediaSample() {
    ResetProperties();
    LiveObjectRemoved();
  }

  void TakeOut() { refs_ = 1; }
  void ResetProperties() {
    actualLength_ = 0;
    timeValid_ = stopValid_ = mediaTimeValid_ = false;
    syncPoint_ = preroll_ = discontinuity_ = false;
    DeleteMediaType(mediaType_);
    mediaType_ = nullptr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMediaSample) return HandOut(static_cast<IMediaSample*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) override {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = buffer_;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return size_; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    if (!start || !end) return E_POINTER;
    if (!timeValid_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    if (stopValid_) {
      *end = stop_;
      return S_OK;
    }
    *end = start_ + 1;
    return VFW_S_NO_STOP_TIME;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    timeValid_ = start != nullptr;
    stopValid_ = start != nullptr && end != nullptr;
    start_ = start ? *start : 0;
    stop_ = (start && end) ? *end : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return syncPoint_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override {
    syncPoint_ = value != FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override {
    preroll_ = value != FALSE;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return actualLength_; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override {
    if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
    actualLength_ = length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) override {
    if (!ppMediaType) return E_POINTER;
    *ppMediaType = nullptr;
    if (!mediaType_) return S_FALSE;
    *ppMediaType = CreateMediaType(mediaType_);
    return *ppMediaType ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* pMediaType) override {
    AM_MEDIA_TYPE* copy = nullptr;
    if (pMediaType) {
      copy = CreateMediaType(pMediaType);
      if (!copy) return E_OUTOFMEMORY;
    }
    DeleteMediaType(mediaType_);
    mediaType_ = copy;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override {
    discontinuity_ = value != FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* end) override {
    if (!start || !end) return E_POINTER;
    if (!mediaTimeValid_) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = mediaStart_;
    *end = mediaStop_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* end) override {
    if (!start || !end) {
      mediaTimeValid_ = false;
      return S_OK;
    }
    mediaTimeValid_ = true;
    mediaStart_ = *start;
    mediaStop_ = *end;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{0};
  MemoryAllocator* allocator_;  // uncounted while in the free list, counted while handed out
  BYTE* buffer_;
  LONG size_;
  LONG actualLength_ = 0;
  bool timeValid_ = false, stopValid_ = false, mediaTimeValid_ = false;
  bool syncPoint_ = false, preroll_ = false, discontinuity_ = false;
  REFERENCE_TIME start_ = 0, stop_ = 0;
  LONGLONG mediaStart_ = 0, mediaStop_ = 0;
  AM_MEDIA_TYPE* mediaType_ = nullptr;
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
    std::lock_guard<std::mutex> lock(mutex_);
    if (committed_) return VFW_E_ALREADY_COMMITTED;
    if (free_.size() != samples_.size()) return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1)) != 0) return VFW_E_BADALIGN;
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
    FreeBuffersLocked();
    props_ = *request;
    *actual = props_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override {
    if (!props) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *props = props_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Commit() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (props_.cBuffers <= 0 || props_.cbBuffer <= 0) return VFW_E_SIZENOTSET;
    if (committed_) return S_OK;
    // Buffers of an earlier commit whose samples are still out are used again.
    if (samples_.empty()) {
      try {
        for (LONG i = 0; i < props_.cBuffers; ++i) {
          size_t bytes = static_cast<size_t>(props_.cbPrefix) + static_cast<size_t>(props_.cbBuffer) +
                         static_cast<size_t>(props_.cbAlign);
          memory_.emplace_back(new BYTE[bytes]);
          uintptr_t base = reinterpret_cast<uintptr_t>(memory_.back().get()) + props_.cbPrefix;
          uintptr_t align = static_cast<uintptr_t>(props_.cbAlign);
          BYTE* data = reinterpret_cast<BYTE*>((base + align - 1) & ~(align - 1));
          samples_.emplace_back(new MediaSample(this, data, props_.cbBuffer));
          free_.push_back(samples_.back().get());
        }
      } catch (const std::bad_alloc&) {
        FreeBuffersLocked();
        return E_OUTOFMEMORY;
      }
    }
    committed_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Decommit() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!committed_) return S_OK;
    committed_ = false;
    // Waiting GetBuffer calls give up; the memory goes once every sample is back.
    available_.notify_all();
    if (free_.size() == samples_.size()) FreeBuffersLocked();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                      DWORD flags) override {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = nullptr;
    MediaSample* sample = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        if (!committed_) return VFW_E_NOT_COMMITTED;
        if (!free_.empty()) break;
        if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
        available_.wait(lock);
      }
      sample = free_.back();
      free_.pop_back();
      sample->TakeOut();
    }
    AddRef();  // released when the sample comes back
    *ppBuffer = sample;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* buffer) override {
    if (!buffer) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& owned : samples_) {
      if (owned.get() == buffer) {
        free_.push_back(owned.get());
        if (!committed_ && free_.size() == samples_.size()) {
          FreeBuffersLocked();
        } else {
          available_.notify_one();
        }
        return S_OK;
      }
    }
    return E_INVALIDARG;
  }

 private:
  void FreeBuffers() {
    std::lock_guard<std::mutex> lock(mutex_);
    FreeBuffersLocked();
  }
  void FreeBuffersLocked() {
    free_.clear();
    samples_.clear();
    memory_.clear();
  }

  std::mutex mutex_;
  std::condition_variable available_;
  ALLOCATOR_PROPERTIES props_{0, 0, 1, 0};
  bool committed_ = false;
  std::vector<std::unique_ptr<BYTE[]>> memory_;
  std::vector<std::unique_ptr<MediaSample>> samples_;
  std::vector<MediaSample*> free_;
};

ULONG MediaSample::Release() {
  ULONG left = --refs_;
  if (left == 0) {
    // The allocator may free this sample while taking it back: nothing of it is touched afterwards.
    MemoryAllocator* allocator = allocator_;
    ResetProperties();
    allocator->ReleaseBuffer(this);
    allocator->Release();
  }
  return left;
}

}  // namespace

HRESULT CreateMemoryAllocator(REFIID riid, void** ppv) { return CreateComObject<MemoryAllocator>(riid, ppv); }

}  // namespace pnx::posix
