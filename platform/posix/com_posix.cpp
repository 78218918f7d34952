// The COM runtime calls of the POSIX layer: apartment counting, the in-process class registry, task memory,
// VARIANT/BSTR and the Win32 stand-ins.
#include "platform/posix/com_posix.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/posix/runtime_posix.h"

namespace {

thread_local int t_comInitCount = 0;

struct ClassEntry {
  CLSID clsid;
  PnxClassFactoryFunction create;
};

std::mutex g_classesMutex;

std::vector<ClassEntry>& Classes() {
  static std::vector<ClassEntry> classes = {
      {CLSID_FilterGraph, &pnx::posix::CreateFilterGraph},
      {CLSID_CaptureGraphBuilder2, &pnx::posix::CreateCaptureGraphBuilder},
      {CLSID_MemoryAllocator, &pnx::posix::CreateMemoryAllocator},
      {CLSID_SystemDeviceEnum, &pnx::posix::CreateSystemDeviceEnum},
  };
  return classes;
}

PnxClassFactoryFunction FindClass(REFCLSID clsid) {
  std::lock_guard<std::mutex> lock(g_classesMutex);
  for (const ClassEntry& entry : Classes()) {
    if (IsEqualGUID(entry.clsid, clsid)) return entry.create;
  }
  return nullptr;
}

// BSTRs carry their length in front of the characters, as on Windows.
struct BstrHeader {
  size_t length;
};

}  // namespace

HRESULT CoInitialize(LPVOID) { return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID, DWORD) { return t_comInitCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_comInitCount > 0) --t_comInitCount;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (t_comInitCount == 0) return CO_E_NOTINITIALIZED;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  PnxClassFactoryFunction create = FindClass(rclsid);
  if (!create) return REGDB_E_CLASSNOTREG;
  return create(riid, ppv);
}

void PnxRegisterClass(REFCLSID clsid, PnxClassFactoryFunction create) {
  std::lock_guard<std::mutex> lock(g_classesMutex);
  std::vector<ClassEntry>& classes = Classes();
  for (auto it = classes.begin(); it != classes.end(); ++it) {
    if (IsEqualGUID(it->clsid, clsid)) {
      if (create) {
        it->create = create;
      } else {
        classes.erase(it);
      }
      return;
    }
  }
  if (create) classes.push_back({clsid, create});
}

LPVOID CoTaskMemAlloc(size_t cb) { return std::malloc(cb == 0 ? 1 : cb); }
LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }
void CoTaskMemFree(LPVOID pv) { std::free(pv); }

int StringFromGUID2(REFGUID g, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < 39) return 0;
  std::swprintf(lpsz, static_cast<size_t>(cchMax), L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return 39;
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  void* block = std::malloc(sizeof(BstrHeader) + (static_cast<size_t>(ui) + 1) * sizeof(OLECHAR));
  if (!block) return nullptr;
  static_cast<BstrHeader*>(block)->length = ui;
  BSTR text = reinterpret_cast<BSTR>(static_cast<char*>(block) + sizeof(BstrHeader));
  if (strIn) {
    std::wmemcpy(text, strIn, ui);
  } else {
    std::wmemset(text, 0, ui);
  }
  text[ui] = 0;
  return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(std::wcslen(psz)));
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(reinterpret_cast<char*>(bstrString) - sizeof(BstrHeader));
}

UINT SysStringLen(BSTR pbstr) {
  if (!pbstr) return 0;
  return static_cast<UINT>(
      reinterpret_cast<const BstrHeader*>(reinterpret_cast<char*>(pbstr) - sizeof(BstrHeader))->length);
}

void VariantInit(VARIANT* pvarg) {
  if (!pvarg) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->llVal = 0;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (pvarg->vt == VT_BSTR) SysFreeString(pvarg->bstrVal);
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VariantClear(dest);
  *dest = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    dest->bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (!dest->bstrVal) {
      VariantInit(dest);
      return E_OUTOFMEMORY;
    }
  }
  return S_OK;
}

void InitializeCriticalSection(LPCRITICAL_SECTION) {}
void DeleteCriticalSection(LPCRITICAL_SECTION) {}
void EnterCriticalSection(LPCRITICAL_SECTION section) { section->mutex.lock(); }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { section->mutex.unlock(); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) { return section->mutex.try_lock() ? TRUE : FALSE; }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
