// Emptying a filter graph when the graph refuses to remove some of its filters: the walk must still end.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "device/capture_device_manager.h"
#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"

namespace {

// A graph of a fixed list of filters that refuses to remove those in `refused`. It lives on the test's stack;
// its counts are never used to delete it. A walk that runs away is cut off and noted.
class RefusingGraph : public IFilterGraph, public IEnumFilters {
 public:
  std::vector<IBaseFilter*> filters;
  std::set<IBaseFilter*> refused;
  bool runaway = false;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override {
    if (refused.count(filter) != 0) return E_FAIL;
    filters.erase(std::find(filters.begin(), filters.end(), filter));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** out) override {
    position_ = 0;
    *out = this;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG, IBaseFilter** out, ULONG*) override {
    if (++steps_ > 1000) runaway = true;
    if (runaway || position_ >= filters.size()) return S_FALSE;
    *out = filters[position_++];
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumFilters**) override { return E_NOTIMPL; }

 private:
  size_t position_ = 0;
  int steps_ = 0;
};

TEST(RemoveAllFilters, EndsWithOnlyTheRefusedFiltersLeft) {
  std::vector<ComPtr<IBaseFilter>> sinks;
  for (int i = 0; i < 3; ++i) sinks.emplace_back(new SinkFilter());
  const struct {
    const char* name;
    std::vector<int> refused;
  } cases[] = {{"none refused", {}}, {"first refused", {0}}, {"last refused", {2}}, {"all refused", {0, 1, 2}}};
  for (const auto& c : cases) {
    RefusingGraph graph;
    for (const ComPtr<IBaseFilter>& sink : sinks) graph.filters.push_back(sink.Get());
    std::vector<IBaseFilter*> left;
    for (int index : c.refused) {
      graph.refused.insert(sinks[index].Get());
      left.push_back(sinks[index].Get());
    }
    RemoveAllFilters(&graph);
    EXPECT_FALSE(graph.runaway) << c.name;
    EXPECT_EQ(graph.filters, left) << c.name;
  }
}

}  // namespace
