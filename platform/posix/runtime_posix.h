// Internal to the POSIX layer: creation functions of the runtime's classes, registered in the class registry.
#pragma once

#include "platform/posix/dshow_posix.h"

namespace pnx::posix {

HRESULT CreateFilterGraph(REFIID riid, void** ppv);
HRESULT CreateCaptureGraphBuilder(REFIID riid, void** ppv);
HRESULT CreateMemoryAllocator(REFIID riid, void** ppv);
HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv);

}  // namespace pnx::posix
