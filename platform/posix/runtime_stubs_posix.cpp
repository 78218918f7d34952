// Placeholder creation functions until the runtime classes land.
#include "platform/posix/runtime_posix.h"

namespace pnx::posix {
HRESULT CreateFilterGraph(REFIID, void** ppv) { *ppv = nullptr; return E_NOTIMPL; }
HRESULT CreateCaptureGraphBuilder(REFIID, void** ppv) { *ppv = nullptr; return E_NOTIMPL; }
HRESULT CreateMemoryAllocator(REFIID, void** ppv) { *ppv = nullptr; return E_NOTIMPL; }
HRESULT CreateSystemDeviceEnum(REFIID, void** ppv) { *ppv = nullptr; return E_NOTIMPL; }
}  // namespace pnx::posix
