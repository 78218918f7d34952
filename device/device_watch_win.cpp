// The device watch on Windows: the configuration manager's device-interface notifications, looked up at run
// time (the import library lacks them, and older systems and some compatibility layers do not have them).
// The notification types are declared for Windows 8 and later only; this file may see them, since it looks
// the functions up at run time and does without them on older systems.
#undef _WIN32_WINNT
#undef WINVER
#define _WIN32_WINNT 0x0602
#define WINVER 0x0602
#include <windows.h>

#include <cfgmgr32.h>

#include "device/device_watch.h"

namespace {

using RegisterFn = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
using UnregisterFn = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

}  // namespace

struct DeviceWatch::Impl {
  HMODULE library = nullptr;
  UnregisterFn unregister = nullptr;
  HCMNOTIFICATION handle = nullptr;
  std::function<void()> changed;

  static DWORD CALLBACK OnNotification(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action,
                                       PCM_NOTIFY_EVENT_DATA, DWORD) {
    if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL || action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) {
      static_cast<Impl*>(context)->changed();
    }
    return ERROR_SUCCESS;
  }

  ~Impl() {
    // Waits for callbacks in progress.
    if (handle && unregister) unregister(handle);
    if (library) FreeLibrary(library);
  }
};

DeviceWatch::DeviceWatch() = default;
DeviceWatch::~DeviceWatch() { Stop(); }

bool DeviceWatch::Start(std::function<void()> changed) {
  if (m_impl) return true;
  auto impl = std::make_unique<Impl>();
  impl->changed = std::move(changed);
  impl->library = LoadLibraryW(L"cfgmgr32.dll");
  if (!impl->library) return false;
  auto registerFn = reinterpret_cast<RegisterFn>(
      reinterpret_cast<void*>(GetProcAddress(impl->library, "CM_Register_Notification")));
  impl->unregister = reinterpret_cast<UnregisterFn>(
      reinterpret_cast<void*>(GetProcAddress(impl->library, "CM_Unregister_Notification")));
  if (!registerFn || !impl->unregister) return false;
  CM_NOTIFY_FILTER filter{};
  filter.cbSize = sizeof filter;
  // Every interface class: capture devices register under several, and a look that finds nothing new
  // leaves the graph alone.
  filter.Flags = CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES;
  filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
  if (registerFn(&filter, impl.get(), &Impl::OnNotification, &impl->handle) != CR_SUCCESS) {
    impl->handle = nullptr;
    return false;
  }
  m_impl = std::move(impl);
  return true;
}

void DeviceWatch::Stop() { m_impl.reset(); }
