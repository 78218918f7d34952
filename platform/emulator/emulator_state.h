// The emulated device's process-wide state: the configuration (PNX_SIM_DEVICES or a test's), each device's
// property values kept per device number for the whole process, and the event lines (PNX_SIM_TRACE).
// Thread rule: every function may be called from any thread; one mutex guards configuration, device states
// and the trace path.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow.h"
#include "platform/emulator/emulator_config.h"

namespace emulator {

// The current configuration, read from PNX_SIM_DEVICES at the first call unless a test loaded one; never
// null (an invalid file gives an empty configuration).
std::shared_ptr<const Configuration> CurrentConfiguration();
std::shared_ptr<const NodeConfig> FindNode(const std::wstring& name);

// False while the device is unplugged (the control file or SetDevicePlugged); true for every other number.
// Its nodes are then not enumerated, its properties and signal answer ERROR_DEVICE_NOT_CONNECTED and its
// streams end.
bool DevicePresent(int deviceNumber);

// What a frame shows of a device.
struct DeviceView {
  uint32_t layout = 100;
  uint64_t sources = 0x4321;
  bool signal[4] = {true, true, true, true};
};
// False when no device has that number.
bool ReadDeviceView(int deviceNumber, DeviceView* view);
// Changes whenever any device's view or the running frame size changes; streaming threads compare it to know
// when to look again and redraw.
uint64_t ViewVersion();

// The size every running stream is to deliver from its next frame on (the control file's "frame", or
// SetRunningFrameSize); false when streams keep the size they were connected with.
bool ReadRunningFrameSize(int32_t* width, int32_t* height);

// The vendor properties of a device: HRESULTs as the device answers them (E_FAIL for the configured failures,
// E_PROP_ID_UNSUPPORTED for other ids, a Win32 buffer error for short buffers).
HRESULT SetDeviceProperty(int deviceNumber, DWORD id, const BYTE* data, DWORD size);
HRESULT GetDeviceProperty(int deviceNumber, DWORD id, BYTE* data, DWORD size, DWORD* returned);
bool PropertyIdKnown(DWORD id, bool forSet);

// Event lines, each appended and flushed at once; nothing when no trace path is set.
void TraceProperty(const std::string& node, bool isSet, DWORD id, const BYTE* data, DWORD size, HRESULT hr);
void TraceFormat(const std::string& node, const Format& format);
void TraceState(const std::string& node, FILTER_STATE state);

}  // namespace emulator
