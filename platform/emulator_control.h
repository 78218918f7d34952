// Test hooks of the emulated Brelvon device and the POSIX layer, for tests in any folder. Call them from the
// test's main thread while no graph built on emulated nodes is running.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com_object.h"  // PnxLiveComObjectCount()

namespace emulator {

// Replaces the configuration (the same JSON as the PNX_SIM_DEVICES file) and resets every device's property
// state to the configured values. Returns false for invalid text, which leaves no device at all (the same as
// an invalid file; nothing is written to standard error by these hooks).
bool LoadConfigurationText(const std::string& json);
// As LoadConfigurationText, reading the file at path.
bool LoadConfigurationFile(const std::string& path);
// Forgets any loaded configuration: the next enumeration reads PNX_SIM_DEVICES again (unset: the default).
void UseEnvironmentConfiguration();
// Puts every device's property state (layouts and sources) back to the configured initial values.
void ResetDeviceStates();
// Where the event lines go; an empty path turns them off. Overrides PNX_SIM_TRACE until the next
// UseEnvironmentConfiguration.
void SetTracePath(const std::string& path);
// Reads a device's current property state; false when no device has that number.
bool GetDeviceState(int deviceNumber, uint32_t* layout, uint64_t* sources);
// Unplugs or plugs back a device by number (its property state is kept meanwhile). PNX_SIM_CONTROL names a
// file that does the same from outside the process: {"unplugged": [2], "signal": {"1": [true,false,true,true]}},
// read again whenever it changed when the nodes are enumerated or a device is asked anything; with
// "switchedOff": true in it, a device plugged back has its configured layout and sources again.
void SetDevicePlugged(int deviceNumber, bool plugged);
// Changes the signal of one input (1..4) of a device; false when there is no such device or input.
bool SetInputSignal(int deviceNumber, int input, bool signal);
// Unlike the hooks above, meant for a running graph (it only leaves a note that the streaming threads pick up):
// makes every running stream deliver frames of width x height from its next frame on, announced by the media
// type on that frame's sample; 0 x 0 takes them back to the size they were connected with. A size whose frames
// do not fit the buffers agreed at connection, or that the downstream pin does not accept, is not taken. The
// control file does the same with {"frame": {"width": 1280, "height": 720}} (without "frame": connected size).
void SetRunningFrameSize(int32_t width, int32_t height);

}  // namespace emulator
