// Placeholder test hooks until the emulated device lands.
#include "platform/emulator_control.h"

namespace emulator {
bool LoadConfigurationText(const std::string&) { return false; }
bool LoadConfigurationFile(const std::string&) { return false; }
void UseEnvironmentConfiguration() {}
void ResetDeviceStates() {}
void SetTracePath(const std::string&) {}
bool GetDeviceState(int, uint32_t*, uint64_t*) { return false; }
bool SetInputSignal(int, int, bool) { return false; }
}  // namespace emulator
