// The filter graph (CLSID_FilterGraph): membership, direct connection, and state changes for the graph's
// filters. Thread rule: called from the control thread; m_lock guards the filter list and the state. Filters'
// streaming threads never call into the graph (IMediaEventSink::Notify takes no lock).
#include <algorithm>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/posix/runtime_posix.h"

namespace pnx::posix {
namespace {

ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
  PIN_INFO info{};
  ComPtr<IBaseFilter> owner;
  if (SUCCEEDED(pin->QueryPinInfo(&info))) owner.Attach(info.pFilter);
  return owner;
}

bool DirectionIs(IPin* pin, PIN_DIRECTION wanted) {
  PIN_DIRECTION dir;
  return SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted;
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> pinEnum;
  if (FAILED(filter->EnumPins(pinEnum.Receive()))) return pins;
  ComPtr<IPin> pin;
  while (pinEnum->Next(1, pin.Receive(), nullptr) == S_OK) pins.push_back(pin);
  return pins;
}

// Breaks every connection of the filter's pins, on both sides.
void DisconnectAll(IBaseFilter* filter) {
  for (const ComPtr<IPin>& pin : PinsOf(filter)) {
    ComPtr<IPin> peer;
    if (SUCCEEDED(pin->ConnectedTo(peer.Receive())) && peer) {
      peer->Disconnect();
      pin->Disconnect();
    }
  }
}

class FilterGraph;

// Enumerates a snapshot of the graph's filters; out of sync once the graph changes, until Reset.
class FilterEnum final : public ComObject, public IEnumFilters {
 public:
  FilterEnum(FilterGraph* graph, size_t position);
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumFilters) return HandOut(static_cast<IEnumFilters*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** ppEnum) override;

 private:
  ComPtr<IFilterGraph> m_graphRef;
  FilterGraph* m_graph;
  std::vector<ComPtr<IBaseFilter>> m_filters;
  unsigned m_version = 0;
  size_t m_position;
};

class FilterGraph final : public ComObject, public IFilterGraph2, public IMediaControl, public IMediaEventSink {
 public:
  ~FilterGraph() override {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_state != State_Stopped) ChangeState(State_Stopped, 0);
    for (Entry& entry : m_filters) {
      DisconnectAll(entry.filter.Get());
      entry.filter->JoinFilterGraph(nullptr, nullptr);
    }
    m_filters.clear();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IFilterGraph || riid == IID_IGraphBuilder || riid == IID_IFilterGraph2)
      return HandOut(static_cast<IFilterGraph2*>(this), ppv);
    if (riid == IID_IMediaControl) return HandOut(static_cast<IMediaControl*>(this), ppv);
    if (riid == IID_IMediaEventSink) return HandOut(static_cast<IMediaEventSink*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

  // IFilterGraph
  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) override {
    if (!filter) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (const Entry& entry : m_filters) {
      if (entry.filter.Get() == filter) return VFW_E_DUPLICATE_NAME;
    }
    std::wstring unique = name ? std::wstring(name).substr(0, MAX_FILTER_NAME - 6) : std::wstring();
    HRESULT answer = S_OK;
    if (unique.empty() || FindByName(unique)) {
      // As the platform does: a taken or missing name gets a number.
      std::wstring base = unique;
      for (int n = 1; n < 10000; ++n) {
        wchar_t suffix[8];
        std::swprintf(suffix, 8, L"%04d", n);
        unique = base.empty() ? std::wstring(suffix) : base + L" " + suffix;
        if (!FindByName(unique)) break;
      }
      if (!base.empty()) answer = VFW_S_DUPLICATE_NAME;
    }
    HRESULT hr = filter->JoinFilterGraph(this, unique.c_str());
    if (FAILED(hr)) return hr;
    m_filters.push_back({ComPtr<IBaseFilter>(filter), unique});
    ++m_version;
    return answer;
  }
  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override {
    if (!filter) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (auto it = m_filters.begin(); it != m_filters.end(); ++it) {
      if (it->filter.Get() != filter) continue;
      ComPtr<IBaseFilter> keep = it->filter;
      if (m_state != State_Stopped) keep->Stop();
      DisconnectAll(keep.Get());
      keep->JoinFilterGraph(nullptr, nullptr);
      m_filters.erase(it);
      ++m_version;
      return S_OK;
    }
    return VFW_E_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    return CreateComObject<FilterEnum>(IID_IEnumFilters, reinterpret_cast<void**>(ppEnum), this, size_t{0});
  }
  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** ppFilter) override {
    if (!name || !ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    IBaseFilter* found = FindByName(name);
    if (!found) return VFW_E_NOT_FOUND;
    return HandOut(found, reinterpret_cast<void**>(ppFilter));
  }
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt) override {
    if (!out || !in) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
    ComPtr<IBaseFilter> outOwner = OwnerOf(out);
    ComPtr<IBaseFilter> inOwner = OwnerOf(in);
    if (!outOwner || !inOwner || !Contains(outOwner.Get()) || !Contains(inOwner.Get())) return VFW_E_NOT_IN_GRAPH;
    if (!DirectionIs(out, PINDIR_OUTPUT) || !DirectionIs(in, PINDIR_INPUT)) return VFW_E_INVALID_DIRECTION;
    return out->Connect(in, pmt);
  }
  HRESULT STDMETHODCALLTYPE Reconnect(IPin* pin) override { return ReconnectEx(pin, nullptr); }
  HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return pin->Disconnect();
  }
  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return S_OK; }

  // IGraphBuilder: no intelligent connection, there are no intermediate filters to insert.
  HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) override { return ConnectDirect(out, in, nullptr); }
  HRESULT STDMETHODCALLTYPE Render(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** ppFilter) override {
    if (ppFilter) *ppFilter = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Abort() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return S_OK; }

  // IFilterGraph2
  HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker*, IBindCtx*, LPCWSTR,
                                                      IBaseFilter** ppFilter) override {
    if (ppFilter) *ppFilter = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* pmt) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
    ComPtr<IPin> peer;
    HRESULT hr = pin->ConnectedTo(peer.Receive());
    if (FAILED(hr)) return hr;
    bool isOutput = DirectionIs(pin, PINDIR_OUTPUT);
    IPin* out = isOutput ? pin : peer.Get();
    IPin* in = isOutput ? peer.Get() : pin;
    out->Disconnect();
    in->Disconnect();
    return out->Connect(in, pmt);
  }
  HRESULT STDMETHODCALLTYPE RenderEx(IPin*, DWORD, DWORD*) override { return E_NOTIMPL; }

  // IMediaControl: the graph has no clock, so filters run with stream time 0 at Run.
  HRESULT STDMETHODCALLTYPE Run() override {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_state == State_Stopped) {
      HRESULT hr = ChangeState(State_Paused, 0);
      if (FAILED(hr)) return hr;
    }
    return ChangeState(State_Running, 0);
  }
  HRESULT STDMETHODCALLTYPE Pause() override {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return ChangeState(State_Paused, 0);
  }
  // A running graph passes through paused on its way to stopped, as DirectShow's graph manager does: filters
  // see Pause before Stop.
  HRESULT STDMETHODCALLTYPE Stop() override {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_state == State_Running) ChangeState(State_Paused, 0);
    return ChangeState(State_Stopped, 0);
  }
  HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState* pfs) override {
    if (!pfs) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *pfs = m_state;
    return S_OK;
  }

  // IMediaEventSink: events are accepted and dropped; may be called from streaming threads.
  HRESULT STDMETHODCALLTYPE Notify(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

  // For the filter enumerator.
  unsigned Snapshot(std::vector<ComPtr<IBaseFilter>>* out) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    out->clear();
    for (const Entry& entry : m_filters) out->push_back(entry.filter);
    return m_version;
  }
  unsigned Version() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_version;
  }

 private:
  struct Entry {
    ComPtr<IBaseFilter> filter;
    std::wstring name;
  };

  IBaseFilter* FindByName(const std::wstring& name) const {
    for (const Entry& entry : m_filters) {
      if (entry.name == name) return entry.filter.Get();
    }
    return nullptr;
  }
  bool Contains(IBaseFilter* filter) const {
    for (const Entry& entry : m_filters) {
      if (entry.filter.Get() == filter) return true;
    }
    return false;
  }

  // Filters downstream first (renderers before sources), so that no filter delivers to one that has not
  // changed state yet.
  std::vector<IBaseFilter*> DownstreamFirst() const {
    std::map<IBaseFilter*, int> depth;
    for (const Entry& entry : m_filters) depth[entry.filter.Get()] = 0;
    // Longest path to a filter without connected outputs; bounded by the number of filters.
    for (size_t round = 0; round < m_filters.size(); ++round) {
      bool changed = false;
      for (const Entry& entry : m_filters) {
        for (const ComPtr<IPin>& pin : PinsOf(entry.filter.Get())) {
          if (!DirectionIs(pin.Get(), PINDIR_OUTPUT)) continue;
          ComPtr<IPin> peer;
          if (FAILED(pin->ConnectedTo(peer.Receive())) || !peer) continue;
          ComPtr<IBaseFilter> next = OwnerOf(peer.Get());
          auto found = depth.find(next.Get());
          if (found == depth.end()) continue;
          if (depth[entry.filter.Get()] < found->second + 1) {
            depth[entry.filter.Get()] = found->second + 1;
            changed = true;
          }
        }
      }
      if (!changed) break;
    }
    std::vector<IBaseFilter*> order;
    for (const Entry& entry : m_filters) order.push_back(entry.filter.Get());
    std::stable_sort(order.begin(), order.end(),
                     [&depth](IBaseFilter* a, IBaseFilter* b) { return depth.at(a) < depth.at(b); });
    return order;
  }

  // Every filter is asked even after a failure; the first failure is the answer and the graph's state
  // changes only when every filter succeeded.
  HRESULT ChangeState(FILTER_STATE target, REFERENCE_TIME start) {
    HRESULT result = S_OK;
    for (IBaseFilter* filter : DownstreamFirst()) {
      HRESULT hr = target == State_Stopped   ? filter->Stop()
                   : target == State_Paused ? filter->Pause()
                                            : filter->Run(start);
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    if (SUCCEEDED(result)) {
      m_state = target;
      return S_OK;
    }
    return result;
  }

  std::recursive_mutex m_lock;
  std::vector<Entry> m_filters;
  unsigned m_version = 0;
  FILTER_STATE m_state = State_Stopped;
};

FilterEnum::FilterEnum(FilterGraph* graph, size_t position)
    : m_graphRef(static_cast<IFilterGraph*>(graph)), m_graph(graph), m_position(position) {
  m_version = m_graph->Snapshot(&m_filters);
}

HRESULT FilterEnum::Next(ULONG count, IBaseFilter** filters, ULONG* fetched) {
  if (!filters) return E_POINTER;
  if (count != 1 && !fetched) return E_POINTER;
  if (fetched) *fetched = 0;
  if (m_graph->Version() != m_version) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG done = 0;
  while (done < count && m_position < m_filters.size()) {
    m_filters[m_position++].CopyTo(&filters[done++]);
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT FilterEnum::Skip(ULONG count) {
  if (m_graph->Version() != m_version) return VFW_E_ENUM_OUT_OF_SYNC;
  if (m_position + count > m_filters.size()) {
    m_position = m_filters.size();
    return S_FALSE;
  }
  m_position += count;
  return S_OK;
}

HRESULT FilterEnum::Reset() {
  m_version = m_graph->Snapshot(&m_filters);
  m_position = 0;
  return S_OK;
}

HRESULT FilterEnum::Clone(IEnumFilters** ppEnum) {
  if (!ppEnum) return E_POINTER;
  if (m_graph->Version() != m_version) return VFW_E_ENUM_OUT_OF_SYNC;
  return CreateComObject<FilterEnum>(IID_IEnumFilters, reinterpret_cast<void**>(ppEnum), m_graph, m_position);
}

}  // namespace

HRESULT CreateFilterGraph(REFIID riid, void** ppv) { return CreateComObject<FilterGraph>(riid, ppv); }

}  // namespace pnx::posix
