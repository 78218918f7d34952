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

#include "device/burst_settler.h"
#include "device/device_watch.h"

namespace {

using RegisterFn = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
using UnregisterFn = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

// The kernel-streaming video interface class. A device of DirectShow's video input category is a
// kernel-streaming filter registered under both the video and the capture class; the capture class also
// holds every audio capture device, so the video class alone sees each of our devices and little else.
constexpr GUID kVideoInterfaceClass = {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

}  // namespace

struct DeviceWatch::Impl {
  explicit Impl(std::function<void()> changed) : settler(kSettleTime, std::move(changed)) {}

  HMODULE library = nullptr;
  UnregisterFn unregister = nullptr;
  HCMNOTIFICATION handle = nullptr;
  // A device with several inputs announces one interface per input, one by one.
  BurstSettler settler;

  static DWORD CALLBACK OnNotification(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action,
                                       PCM_NOTIFY_EVENT_DATA, DWORD) {
    if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL || action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) {
      static_cast<Impl*>(context)->settler.Notify();
    }
    return ERROR_SUCCESS;
  }

  ~Impl() {
    // Waits for callbacks in progress, so that none notifies the settler after it stopped.
    if (handle && unregister) unregister(handle);
    settler.Stop();
    if (library) FreeLibrary(library);
  }
};

DeviceWatch::DeviceWatch() = default;
DeviceWatch::~DeviceWatch() { Stop(); }

bool DeviceWatch::Start(std::function<void()> changed) {
  if (m_impl) return true;
  auto impl = std::make_unique<Impl>(std::move(changed));
  impl->library = LoadLibraryW(L"cfgmgr32.dll");
  if (!impl->library) return false;
  auto registerFn = reinterpret_cast<RegisterFn>(
      reinterpret_cast<void*>(GetProcAddress(impl->library, "CM_Register_Notification")));
  impl->unregister = reinterpret_cast<UnregisterFn>(
      reinterpret_cast<void*>(GetProcAddress(impl->library, "CM_Unregister_Notification")));
  if (!registerFn || !impl->unregister) return false;
  CM_NOTIFY_FILTER filter{};
  filter.cbSize = sizeof filter;
  filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
  filter.u.DeviceInterface.ClassGuid = kVideoInterfaceClass;
  if (registerFn(&filter, impl.get(), &Impl::OnNotification, &impl->handle) != CR_SUCCESS) {
    impl->handle = nullptr;
    return false;
  }
  m_impl = std::move(impl);
  return true;
}

void DeviceWatch::Stop() { m_impl.reset(); }
