// One host message, as the connection hands it over, into the real plug-in with the emulated devices.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/host_protocol.h"
#include "tests/fuzz/plugin_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WithFreshPlugin([&](MyPaneloxPlugin& plugin) {
    DispatchHostMessage(std::string(reinterpret_cast<const char*>(data), size), plugin);
  });
  return 0;
}
