// Media type helpers of the DirectShow base classes (which mingw-w64 does not ship), used on both platforms,
// and two owners: MediaType (a value with a deep-copied format block) and MediaTypePtr (a whole
// AM_MEDIA_TYPE handed out by the platform in task memory, as GetStreamCaps and GetFormat do).
#pragma once

#include "platform/dshow.h"

// Deep copy: the format block is copied into new task memory and pUnk gains a reference. The target's
// previous contents are not freed. On failure the target holds no format block and E_OUTOFMEMORY is answered.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// Frees the format block and releases pUnk; the structure itself stays (its format fields are zeroed).
void FreeMediaType(AM_MEDIA_TYPE& mt);
// FreeMediaType, then frees the structure itself (task memory); null is allowed.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// A deep copy in new task memory; null when memory runs out or source is null.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

// Whether two media types agree in major type, subtype, format type and format block.
bool MediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// An AM_MEDIA_TYPE value that owns its format block; copies are deep.
class MediaType {
 public:
  MediaType();
  MediaType(const MediaType& other);
  MediaType& operator=(const MediaType& other);
  ~MediaType();

  // Replaces the contents by a deep copy of source; on failure the previous contents are kept.
  HRESULT Set(const AM_MEDIA_TYPE& source);
  // Empties the value (no format block, all GUIDs null).
  void Clear();
  // Replaces the format block by size bytes of zeroed task memory; null when that fails.
  BYTE* AllocFormat(ULONG size);

  const AM_MEDIA_TYPE* Get() const { return &m_mt; }
  AM_MEDIA_TYPE* Get() { return &m_mt; }
  const AM_MEDIA_TYPE& operator*() const { return m_mt; }
  const AM_MEDIA_TYPE* operator->() const { return &m_mt; }
  AM_MEDIA_TYPE* operator->() { return &m_mt; }

 private:
  AM_MEDIA_TYPE m_mt;
};

// Owns an AM_MEDIA_TYPE allocated in task memory (freed with DeleteMediaType).
class MediaTypePtr {
 public:
  MediaTypePtr() = default;
  explicit MediaTypePtr(AM_MEDIA_TYPE* pmt) : m_pmt(pmt) {}
  MediaTypePtr(const MediaTypePtr&) = delete;
  MediaTypePtr& operator=(const MediaTypePtr&) = delete;
  MediaTypePtr(MediaTypePtr&& other) noexcept : m_pmt(other.m_pmt) { other.m_pmt = nullptr; }
  MediaTypePtr& operator=(MediaTypePtr&& other) noexcept;
  ~MediaTypePtr() { Reset(); }

  AM_MEDIA_TYPE* Get() const { return m_pmt; }
  AM_MEDIA_TYPE* operator->() const { return m_pmt; }
  explicit operator bool() const { return m_pmt != nullptr; }
  void Reset(AM_MEDIA_TYPE* pmt = nullptr);
  // For out-parameters: frees what is held first.
  AM_MEDIA_TYPE** Receive();
  AM_MEDIA_TYPE* Detach();

 private:
  AM_MEDIA_TYPE* m_pmt = nullptr;
};
