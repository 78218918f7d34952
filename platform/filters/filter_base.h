// FilterBase: the default answers of IBaseFilter and IAMovieSetup for a filter built on our own pins (the
// preview renderer's and the emulated device's). A derived filter adds its interfaces and a few hooks.
//
// Threads: the control thread calls the IBaseFilter operations; reference counting may happen on any thread.
// The lock handed to the constructor (owned by the derived filter) guards m_state, m_clock, m_start, m_name and
// m_graph; the pins use the same lock.
#pragma once

#include <atomic>
#include <memory>

#include "platform/filters/critical_section.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"

class PinBase;

class FilterBase : public IBaseFilter, public IAMovieSetup {
 public:
  FilterBase(const FilterBase&) = delete;
  FilterBase& operator=(const FilterBase&) = delete;

  // The object's own unknown. The count starts at 0: the creator takes the first reference here. The object
  // deletes itself when the count returns to 0. Release returns the count after the call.
  virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** out);
  ULONG NonDelegatingAddRef();
  ULONG NonDelegatingRelease();

  // IUnknown (there is never an outer unknown).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;

  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) override;

  // IAMovieSetup: nothing is ever registered.
  HRESULT STDMETHODCALLTYPE Register() override;
  HRESULT STDMETHODCALLTYPE Unregister() override;

  // The pins, for the enumerator and FindPin. GetPin answers null outside 0..GetPinCount()-1.
  virtual int GetPinCount() = 0;
  virtual PinBase* GetPin(int index) = 0;
  // Changes whenever the set of pins changes; a pin enumerator started at another version is out of sync.
  LONG GetPinVersion();

  // Takes the filter lock.
  bool IsStopped();
  // The graph given by JoinFilterGraph, counted for the caller (null outside a graph). Takes the filter lock.
  ComPtr<IFilterGraph> Graph();
  // The name given by JoinFilterGraph, empty before. Control thread only.
  const WCHAR* Name() const { return m_name ? m_name.get() : kEmptyName; }

 protected:
  FilterBase(const CLSID& classId, CriticalSection* lock);
  virtual ~FilterBase();

  void IncrementPinVersion();

  // A live source has nothing to show while paused: Pause, and GetState while paused, answer VFW_S_CANT_CUE.
  virtual bool IsLiveSource() const { return false; }
  // Called under the lock after the state has changed (and the pins have been told).
  virtual void OnStateChanged(FILTER_STATE /*state*/) {}

  CriticalSection* const m_lock;

 private:
  void SetState(FILTER_STATE state);

  static constexpr WCHAR kEmptyName[1] = {0};

  std::atomic<ULONG> m_refCount{0};
  FILTER_STATE m_state = State_Stopped;
  ComPtr<IReferenceClock> m_clock;
  REFERENCE_TIME m_start = 0;
  const CLSID m_classId;
  std::unique_ptr<WCHAR[]> m_name;
  // Uncounted: the graph holds the filter, a counted pointer back would be a cycle.
  IFilterGraph* m_graph = nullptr;
  std::atomic<LONG> m_pinVersion{1};
};
