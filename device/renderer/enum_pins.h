// EnumPins: the IEnumPins handed out by FilterBase::EnumPins. Used by one thread at a time, like every COM
// enumerator; it holds a counted reference to its filter.
#pragma once

#include <atomic>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/dshow.h"

class FilterBase;

class EnumPins final : public IEnumPins {
 public:
  // Makes an enumerator with one reference for the caller; E_OUTOFMEMORY when it cannot be made.
  static HRESULT Create(FilterBase* filter, IEnumPins** out);

  EnumPins(const EnumPins&) = delete;
  EnumPins& operator=(const EnumPins&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // After the filter's pins have changed, Next starts over but hands out no pin twice; Skip and Clone answer
  // VFW_E_ENUM_OUT_OF_SYNC until Reset.
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** out) override;

 private:
  EnumPins(FilterBase* filter, const EnumPins* from);
  ~EnumPins();

  bool OutOfSync() const;
  void Refresh();

  std::atomic<ULONG> m_refCount{1};
  FilterBase* const m_filter;  // counted: AddRef in the constructor, Release in the destructor
  int m_position = 0;
  int m_pinCount = 0;
  LONG m_version = 0;
  // Identity of pins already handed out since the last Reset, so that Next after a change skips them.
  std::vector<IPin*> m_seen;
};
