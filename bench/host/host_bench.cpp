// Parse + dispatch of a typical "keyUp", and the text of a typical "setSettings".
#include <benchmark/benchmark.h>

#include "host/host_protocol.h"
#include "host/pnx_base_plugin.h"

namespace {

class EmptyPlugin : public PnxBasePlugin {
 public:
  void OnKeyDown(const std::string&, const std::string&, const nlohmann::json&, const std::string&) override {}
  void OnKeyUp(const std::string&, const std::string&, const nlohmann::json& payload, const std::string&) override {
    benchmark::DoNotOptimize(&payload);
  }
  void OnWillAppear(const std::string&, const std::string&, const nlohmann::json&, const std::string&) override {}
  void OnWillDisappear(const std::string&, const std::string&, const nlohmann::json&,
                       const std::string&) override {}
  void OnDeviceDidConnect(const std::string&, const nlohmann::json&) override {}
  void OnDeviceDidDisconnect(const std::string&) override {}
  void OnSendToPlugin(const std::string&, const std::string&, const nlohmann::json&, const std::string&) override {}
};

// What the host sends for a key of this plug-in with two devices in its settings.
const char kKeyUp[] =
    R"({"action":"com.brelvon.multiview.switch","context":"A1B2C3D4E5F60718293A4B5C6D7E8F90","device":)"
    R"("5F2E7C1A9B3D4E6F8A0B1C2D3E4F5A6B","event":"keyUp","payload":{"coordinates":{"column":2,"row":1},)"
    R"("isInMultiAction":false,"settings":{"currentDevice":"Brelvon","devices":[{"deviceName":"Brelvon",)"
    R"("inputHasSignal":[true,false,true,true],"multiViewLayout":100,"multiViewSources":[1,2,3,4],)"
    R"("toggle":false},{"deviceName":"Brelvon 2","inputHasSignal":[false,false,true,false],)"
    R"("multiViewLayout":2,"multiViewSources":[3,1,2,4],"toggle":true}],"icon":""},"state":0}})";

void BM_KeyUpParseAndDispatch(benchmark::State& state) {
  EmptyPlugin plugin;
  const std::string text = kKeyUp;
  for (auto _ : state) DispatchHostMessage(text, plugin);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_KeyUpParseAndDispatch);

void BM_SetSettingsText(benchmark::State& state) {
  const nlohmann::json settings = nlohmann::json::parse(kKeyUp)["payload"]["settings"];
  const std::string context = "A1B2C3D4E5F60718293A4B5C6D7E8F90";
  for (auto _ : state) benchmark::DoNotOptimize(BuildSetSettingsMessage(settings, context));
}
BENCHMARK(BM_SetSettingsText);

// The same text built the generic way (copy into an envelope object, then serialise), for comparison.
void BM_SetSettingsTextGeneric(benchmark::State& state) {
  const nlohmann::json settings = nlohmann::json::parse(kKeyUp)["payload"]["settings"];
  const std::string context = "A1B2C3D4E5F60718293A4B5C6D7E8F90";
  for (auto _ : state) {
    nlohmann::json message;
    message["event"] = "setSettings";
    message["context"] = context;
    message["payload"] = settings;
    benchmark::DoNotOptimize(message.dump());
  }
}
BENCHMARK(BM_SetSettingsTextGeneric);

}  // namespace
