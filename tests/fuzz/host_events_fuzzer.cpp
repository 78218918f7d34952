// A sequence of host events for a few keys (appearing, key presses, inspectors opening and closing, settings
// edits, preview requests of odd sizes, disappearing) with fuzzed settings, into the real plug-in with the
// emulated devices. Each input starts a fresh plug-in; at its end every COM object must be gone.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "host/host_protocol.h"
#include "tests/fuzz/plugin_fixture.h"

using nlohmann::json;

namespace {

const char* const kContexts[] = {"key-A", "key-B", "key-C"};
const char* const kDeviceNames[] = {"Brelvon", "Brelvon 2", "Brelvon 3", "", "brelvon"};

// Numbers the way a host's JavaScript may write them: small, at the 32- and 64-bit edges, negative, float.
json FuzzedNumber(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return in.ConsumeIntegralInRange<int32_t>(-2, 6);
    case 1: return in.ConsumeIntegral<int32_t>();
    case 2: return in.ConsumeIntegral<uint64_t>();
    case 3: return in.ConsumeIntegral<int64_t>();
    case 4: return in.ConsumeFloatingPoint<double>();
    case 5: return in.ConsumeBool();
    case 6: return std::numeric_limits<uint32_t>::max();
    default: return in.ConsumeIntegralInRange<int32_t>(0, 200);
  }
}

json FuzzedDeviceEntry(FuzzedDataProvider& in) {
  json entry = json::object();
  if (in.ConsumeBool()) entry["multiViewLayout"] = FuzzedNumber(in);
  if (in.ConsumeBool()) {
    json sources = json::array();
    const int count = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i) sources.push_back(FuzzedNumber(in));
    entry["multiViewSources"] = in.ConsumeIntegralInRange(0, 9) == 0 ? json("1,2,3,4") : sources;
  }
  if (in.ConsumeBool()) entry["toggle"] = in.ConsumeIntegralInRange(0, 3) == 0 ? json(1) : json(in.ConsumeBool());
  if (in.ConsumeBool()) entry["inputHasSignal"] = json::array({true, false});
  return entry;
}

json FuzzedSettings(FuzzedDataProvider& in) {
  // Now and then the settings are whatever text the input holds (not JSON, or JSON of any shape).
  if (in.ConsumeIntegralInRange(0, 15) == 0) {
    json parsed = json::parse(in.ConsumeRandomLengthString(256), nullptr, false);
    return parsed.is_discarded() ? json("not an object") : parsed;
  }
  json settings = json::object();
  if (in.ConsumeBool()) {
    settings["currentDevice"] =
        in.ConsumeIntegralInRange(0, 7) == 0 ? json(in.ConsumeRandomLengthString(16)) : json(in.PickValueInArray(kDeviceNames));
  }
  if (in.ConsumeBool()) {
    json devices = json::array();
    const int count = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < count; ++i) devices.push_back(FuzzedDeviceEntry(in));
    settings["devices"] = devices;
  }
  if (in.ConsumeIntegralInRange(0, 3) == 0) settings["icon"] = in.ConsumeRandomLengthString(32);
  return settings;
}

// Key events carry fuzzed settings; a preview request fuzzed sizes; any other "sendToPlugin" a fuzzed method.
json NextEvent(FuzzedDataProvider& in) {
  const char* const keyEvents[] = {"willAppear", "keyUp", "keyDown", "didReceiveSettings", "willDisappear"};
  json m = {
      {"action", "com.brelvon.multiview.action"}, {"context", in.PickValueInArray(kContexts)}, {"device", "PANEL1"}};
  switch (in.ConsumeIntegralInRange(0, 8)) {
    case 0:
      m["event"] = in.ConsumeBool() ? "propertyInspectorDidAppear" : "propertyInspectorDidDisappear";
      return m;
    case 1:
      m["event"] = "sendToPlugin";
      m["payload"] = {{"method", "startSendingImages"}};
      if (in.ConsumeBool()) m["payload"]["imageWidth"] = FuzzedNumber(in);
      if (in.ConsumeBool()) m["payload"]["imageHeight"] = FuzzedNumber(in);
      return m;
    case 2:
      return json{{"event", in.ConsumeBool() ? "deviceDidConnect" : "deviceDidDisconnect"}, {"device", "PANEL1"}};
    case 3:
      m["event"] = "sendToPlugin";
      m["payload"] = {{"method", in.ConsumeRandomLengthString(24)}};
      return m;
    default:
      m["event"] = in.PickValueInArray(keyEvents);
      m["payload"] = {{"settings", FuzzedSettings(in)}};
      return m;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  fuzz::WithFreshPlugin([&](MyPaneloxPlugin& plugin) {
    for (int i = 0; i < 32 && in.remaining_bytes() > 0; ++i) {
      // A host only sends valid UTF-8; fuzzed strings that are not are made so.
      DispatchHostMessage(NextEvent(in).dump(-1, ' ', false, json::error_handler_t::replace), plugin);
    }
  });
  return 0;
}
