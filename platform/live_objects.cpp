// The process-wide count of the layer's live COM objects.
#include <atomic>

#include "platform/com_object.h"

namespace {
std::atomic<long> g_liveObjects{0};
}

long PnxLiveComObjectCount() { return g_liveObjects.load(); }

namespace pnx {
void LiveObjectAdded() { ++g_liveObjects; }
void LiveObjectRemoved() { --g_liveObjects; }
}  // namespace pnx
