#include "tools/simdevice/sim_registration.h"

#include <cwchar>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/dshow.h"
#include "platform/emulator/emulator.h"

namespace {

const GUID& kNodeClass = emulator::CLSID_BrelvonEmulatedSource;

// Registry instance names are "pnx-sim-node-NNN" (NNN the node's position, zero-padded): the device
// enumerator lists instance keys in name order, so this keeps the configuration's node order.
constexpr wchar_t kInstancePrefix[] = L"pnx-sim-node-";

std::wstring GuidString(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ClassKeyPath() { return L"CLSID\\" + GuidString(kNodeClass); }

// Owns an open registry key.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (m_key) RegCloseKey(m_key);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* Receive() { return &m_key; }
  HKEY get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

HRESULT SetStringValue(HKEY key, const wchar_t* name, const std::wstring& value) {
  LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(rc);
}

HRESULT WriteClassEntry(const std::wstring& modulePath) {
  RegKey server;
  std::wstring path = ClassKeyPath() + L"\\InprocServer32";
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            server.Receive(), nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  HRESULT hr = SetStringValue(server.get(), nullptr, modulePath);
  if (FAILED(hr)) return hr;
  // The streaming thread of a node calls into the graph from outside the creating apartment.
  return SetStringValue(server.get(), L"ThreadingModel", L"Both");
}

// Instance names under the category whose "CLSID" value names this class.
std::vector<std::wstring> RegisteredInstances() {
  std::vector<std::wstring> found;
  RegKey instances;
  std::wstring path = L"CLSID\\" + GuidString(CLSID_VideoInputDeviceCategory) + L"\\Instance";
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, instances.Receive()) != ERROR_SUCCESS)
    return found;
  const std::wstring ours = GuidString(kNodeClass);
  for (DWORD i = 0;; ++i) {
    wchar_t name[256] = {};
    DWORD nameLength = 256;
    if (RegEnumKeyExW(instances.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    wchar_t clsid[64] = {};
    DWORD clsidBytes = sizeof(clsid) - sizeof(wchar_t);  // room for a terminator the value may lack
    if (RegGetValueW(instances.get(), name, L"CLSID", RRF_RT_REG_SZ, nullptr, clsid, &clsidBytes) !=
        ERROR_SUCCESS)
      continue;
    if (_wcsicmp(clsid, ours.c_str()) == 0) found.emplace_back(name);
  }
  return found;
}

HRESULT RemoveInstances(IFilterMapper2* mapper) {
  for (const std::wstring& instance : RegisteredInstances()) {
    HRESULT hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance.c_str(), kNodeClass);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT RegisterNode(IFilterMapper2* mapper, const std::wstring& name, size_t index) {
  // One video output pin, as a capture source describes itself.
  REGPINTYPES pinType = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
  REGFILTERPINS2 pin = {};
  pin.dwFlags = 0;
  pin.cInstances = 1;
  pin.nMediaTypes = 1;
  pin.lpMediaType = &pinType;
  pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
  REGFILTER2 filter = {};
  filter.dwVersion = 2;
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins2 = 1;
  filter.rgPins2 = &pin;

  std::wstring digits = std::to_wstring(index);
  std::wstring instance = kInstancePrefix + std::wstring(3 - digits.size(), L'0') + digits;
  // The node's filter learns which node it is from "FriendlyName" in the bag the moniker's bind hands it.
  return mapper->RegisterFilter(kNodeClass, name.c_str(), nullptr, &CLSID_VideoInputDeviceCategory,
                                instance.c_str(), &filter);
}

HRESULT CreateMapper(ComPtr<IFilterMapper2>* mapper) {
  return CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          mapper->ReceiveVoid());
}

}  // namespace

HRESULT RegisterSimDevice(const std::wstring& modulePath) {
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  hr = RemoveInstances(mapper.Get());
  if (FAILED(hr)) return hr;
  hr = WriteClassEntry(modulePath);
  if (FAILED(hr)) return hr;
  std::vector<std::wstring> names = emulator::VideoInputNodeNames();
  // Instance names hold three digits.
  if (names.size() > 1000) return E_INVALIDARG;
  for (size_t i = 0; i < names.size(); ++i) {
    hr = RegisterNode(mapper.Get(), names[i], i);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterSimDevice() {
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  hr = RemoveInstances(mapper.Get());
  if (FAILED(hr)) return hr;
  LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(rc);
  return S_OK;
}
