// Registration of the emulator's nodes as video input devices, the way capture drivers appear: one
// instance per node in the video input device category, all served by the one class of this DLL.
// Called by DllRegisterServer/DllUnregisterServer on the registering thread (COM initialised by them).
#pragma once

#include <string>

#include "platform/com.h"

// Writes the class's in-process server entry (module path `modulePath`) and one category instance per
// configured node, after removing every instance of an earlier registration.
HRESULT RegisterSimDevice(const std::wstring& modulePath);

// Removes every category instance served by the class, and the class entry.
HRESULT UnregisterSimDevice();
