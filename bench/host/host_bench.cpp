// Parse + dispatch of a typical "keyUp", the text of a typical "setSettings", and the framing of a preview message.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include <websocketpp/config/asio_no_tls_client.hpp>
#include <websocketpp/processors/hybi13.hpp>

#include "host/host_protocol.h"
#include "host/pnx_base_plugin.h"
#include "host/websocket_client_frame.h"

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

// One preview message (the 84726 bytes of a 224x126 BMP as a JSON array of numbers, about 300 KB) framed as a
// client must send it: websocketpp's own framing, which masks a byte at a time, against the connection's, which
// masks a word at a time. Both draw a fresh key from the same kind of source.
std::string PreviewMessage() {
  std::string text = R"({"action":"com.brelvon.multiview.switch","context":"A1B2C3D4E5F60718293A4B5C6D7E8F90",)"
                     R"("event":"sendToPropertyInspector","payload":{"imageData":[66,77)";
  uint32_t noise = 1;
  for (size_t i = 2; i < 54 + size_t{224} * 126 * 3; ++i) {
    noise = noise * 1664525u + 1013904223u;
    text += "," + std::to_string(noise >> 24);
  }
  return text + "]}}";
}

void BM_PreviewFrameLibrary(benchmark::State& state) {
  using Config = websocketpp::config::asio_client;
  auto manager = std::make_shared<Config::con_msg_manager_type>();
  Config::rng_type rng;
  websocketpp::processor::hybi13<Config> framing(false, false, manager, rng);
  const std::string text = PreviewMessage();
  for (auto _ : state) {
    auto in = manager->get_message(websocketpp::frame::opcode::text, text.size());
    in->set_payload(text);
    auto out = manager->get_message();
    framing.prepare_data_frame(in, out);
    benchmark::DoNotOptimize(out->get_payload().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_PreviewFrameLibrary)->Unit(benchmark::kMicrosecond);

void BM_PreviewFrameWordMask(benchmark::State& state) {
  using Config = websocketpp::config::asio_client;
  auto manager = std::make_shared<Config::con_msg_manager_type>();
  Config::rng_type rng;
  const std::string text = PreviewMessage();
  for (auto _ : state) {
    auto out = manager->get_message(websocketpp::frame::opcode::text, 0);
    std::string header;
    PrepareMaskedTextFrame(text, rng(), header, out->get_raw_payload());
    out->set_header(header);
    out->set_prepared(true);
    benchmark::DoNotOptimize(out->get_payload().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_PreviewFrameWordMask)->Unit(benchmark::kMicrosecond);

}  // namespace
