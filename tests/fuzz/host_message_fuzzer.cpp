// One host message, as the connection hands it over, into the real plug-in with the emulated devices.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/host_protocol.h"
#include "tests/fuzz/plugin_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const long liveBefore = PnxLiveComObjectCount();
  {
    fuzz::PluginUnderTest under;
    DispatchHostMessage(std::string(reinterpret_cast<const char*>(data), size), *under.plugin);
  }
  // Whatever the message did, the plug-in's COM objects all go with it.
  if (PnxLiveComObjectCount() != liveBefore) std::abort();
  return 0;
}
