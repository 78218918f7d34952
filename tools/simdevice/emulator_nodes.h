// The emulated device as the COM server sees it: the configured video input nodes in enumeration order,
// and a source filter for one of them. Callable from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/dshow.h"

// Friendly names of every node of the configuration (PNX_SIM_DEVICES), in the order the emulator lists
// them; empty when no device is configured or the configuration is invalid.
std::vector<std::wstring> EmulatorNodeNames();

// A new source filter for node `index` of EmulatorNodeNames(); one reference handed out.
HRESULT CreateEmulatorNodeFilter(size_t index, IBaseFilter** filter);
