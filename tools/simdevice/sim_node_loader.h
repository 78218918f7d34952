// The object the device enumerator creates when a registered emulator node is bound. It is only a loader:
// IPersistPropertyBag::Load reads which node it stands for and creates that node's source filter; every
// interface asked for afterwards is the filter's own, so the caller ends up holding the emulator's filter
// and the loader goes away with its last reference. Used on the binding thread only.
#pragma once

#include <atomic>

#include "platform/com.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"

class SimNodeLoader final : public IPersistPropertyBag {
 public:
  SimNodeLoader();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;

  // IPersistPropertyBag
  HRESULT STDMETHODCALLTYPE InitNew() override;
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

 private:
  ~SimNodeLoader();

  std::atomic<ULONG> refs_{1};
  ComPtr<IBaseFilter> filter_;  // the node's filter once loaded
};

