// What pnx-devhost's web mode does with its clients' messages.
#include "tools/devhost/panel_relay.h"

#include <utility>

#include "tools/devhost/http_files.h"

using nlohmann::json;

namespace {

// Parses a message but drops its top-level "payload": enough to route a 300 KB preview without building it.
json ParseWithoutPayload(const std::string& text) {
  json::parser_callback_t skipPayload = [](int depth, json::parse_event_t event, json& parsed) {
    return !(depth == 1 && event == json::parse_event_t::key && parsed == "payload");
  };
  return json::parse(text, skipPayload, false);
}

std::string StringMember(const json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

int KeyMember(const json& object) {
  const auto found = object.find("key");
  if (found == object.end() || !found->is_number_integer()) return 0;
  const auto key = found->get<int64_t>();
  return key >= 1 && key <= PanelRelay::kKeyCount ? static_cast<int>(key) : 0;
}

}  // namespace

PanelRelay::PanelRelay(Config config, SettingsStore& store, Callbacks callbacks)
    : config_(std::move(config)), store_(store), callbacks_(std::move(callbacks)) {}

int PanelRelay::KeyOfContext(const std::string& context) {
  for (int key = 1; key <= kKeyCount; ++key) {
    if (context == ContextOf(key)) return key;
  }
  return 0;
}

void PanelRelay::OnOpen(ClientId client, bool mayBePanel) {
  roles_[client] = Role::kUnknown;
  if (mayBePanel) mayBePanel_.insert(client);
}

void PanelRelay::OnMessage(ClientId client, const std::string& text) {
  switch (roles_[client]) {
    case Role::kUnknown:
      Register(client, text);
      break;
    case Role::kPlugin:
      FromPlugin(text);
      break;
    case Role::kInspector:
      FromInspector(client, text);
      break;
    case Role::kPanel:
      FromPanel(text);
      break;
  }
}

void PanelRelay::OnClose(ClientId client) {
  mayBePanel_.erase(client);
  const auto found = roles_.find(client);
  if (found == roles_.end()) return;
  const Role role = found->second;
  roles_.erase(found);
  if (role == Role::kPlugin && client == plugin_) {
    plugin_ = 0;
    callbacks_.warn("the plug-in's connection has ended");
    BroadcastPanelState();
  } else if (role == Role::kInspector && client == inspector_.client) {
    inspector_.client = 0;  // the inspector page may reconnect with the same uuid
  } else if (role == Role::kPanel) {
    panels_.erase(client);
  }
}

void PanelRelay::Register(ClientId client, const std::string& text) {
  const bool mayBePanel = mayBePanel_.erase(client) != 0;
  const json message = ParseWithoutPayload(text);
  const std::string event = message.is_object() ? StringMember(message, "event") : std::string();
  const std::string uuid = message.is_object() ? StringMember(message, "uuid") : std::string();
  if (event == "registerPlugin" && uuid == config_.pluginUUID && plugin_ == 0) {
    roles_[client] = Role::kPlugin;
    plugin_ = client;
    for (int key = 1; key <= kKeyCount; ++key) SendKeyEvent("willAppear", key);
    if (inspector_.key != 0) {
      SendToPlugin({{"event", "propertyInspectorDidAppear"}, {"action", config_.action},
                    {"context", ContextOf(inspector_.key)}, {"device", config_.device}});
    }
    BroadcastPanelState();
  } else if (event == "registerPropertyInspector" && inspector_.key != 0 && uuid == inspector_.uuid &&
             inspector_.client == 0) {
    roles_[client] = Role::kInspector;
    inspector_.client = client;
  } else if (event == "registerPanel" && mayBePanel) {
    roles_[client] = Role::kPanel;
    panels_.insert(client);
    callbacks_.send(client, PanelState().dump());
  } else {
    // Whoever cannot say who it is gets nothing.
    roles_.erase(client);
    callbacks_.close(client);
  }
}

void PanelRelay::FromPlugin(const std::string& text) {
  json message = ParseWithoutPayload(text);
  if (!message.is_object()) return;
  const std::string event = StringMember(message, "event");
  const int key = KeyOfContext(StringMember(message, "context"));
  if (key == 0) return;
  if (event == "sendToPropertyInspector") {
    // Already in the form the inspector expects; passed on as it came.
    if (inspector_.key == key && inspector_.client != 0) callbacks_.send(inspector_.client, text);
    return;
  }
  if (event != "setSettings" && event != "setImage") return;
  message = json::parse(text, nullptr, false);
  const auto payload = message.find("payload");
  if (payload == message.end() || !payload->is_object()) return;
  if (event == "setSettings") {
    StoreSettings(key, *payload);
    if (inspector_.key == key && inspector_.client != 0) {
      const json forwarded = {{"event", "didReceiveSettings"}, {"action", config_.action},
                              {"context", ContextOf(key)}, {"device", config_.device},
                              {"payload", {{"settings", *payload}}}};
      callbacks_.send(inspector_.client, forwarded.dump());
    }
  } else {
    images_[key - 1] = StringMember(*payload, "image");
    BroadcastPanelState();
  }
}

void PanelRelay::FromInspector(ClientId client, const std::string& text) {
  // An inspector that has been closed since may still be talking; only the open one counts.
  if (client != inspector_.client) return;
  const json message = json::parse(text, nullptr, false);
  if (!message.is_object() || StringMember(message, "context") != inspector_.uuid) return;
  const std::string event = StringMember(message, "event");
  const auto payload = message.find("payload");
  if (payload == message.end() || !payload->is_object()) return;
  const int key = inspector_.key;
  if (event == "setSettings") {
    StoreSettings(key, *payload);
    SendKeyEvent("didReceiveSettings", key);
  } else if (event == "sendToPlugin") {
    SendToPlugin({{"event", "sendToPlugin"}, {"action", config_.action}, {"context", ContextOf(key)},
                  {"payload", *payload}});
  }
}

void PanelRelay::FromPanel(const std::string& text) {
  const json message = json::parse(text, nullptr, false);
  if (!message.is_object()) return;
  const std::string event = StringMember(message, "event");
  if (event == "closeInspector") {
    CloseInspector();
    BroadcastPanelState();
    return;
  }
  if (event == "plugDevice" || event == "setSignal") {
    if (callbacks_.simControl && callbacks_.simControl(message)) BroadcastPanelState();
    return;
  }
  const int key = KeyMember(message);
  if (key == 0) return;
  if (event == "keyDown" || event == "keyUp") {
    SendKeyEvent(event, key);
  } else if (event == "openInspector") {
    OpenInspector(key);
    BroadcastPanelState();
  }
}

void PanelRelay::OpenInspector(int key) {
  CloseInspector();
  inspector_.key = key;
  inspector_.uuid = callbacks_.newUUID();
  inspector_.client = 0;
  const json actionInfo = {{"action", config_.action},
                           {"context", ContextOf(key)},
                           {"device", config_.device},
                           {"payload", KeyPayload(key)}};
  inspector_.url = config_.inspectorPage + "?port=" + std::to_string(config_.port) +
                   "&uuid=" + PercentEncode(inspector_.uuid) +
                   "&registerEvent=registerPropertyInspector&info=" + PercentEncode(config_.info) +
                   "&actionInfo=" + PercentEncode(actionInfo.dump());
  SendToPlugin({{"event", "propertyInspectorDidAppear"}, {"action", config_.action}, {"context", ContextOf(key)},
                {"device", config_.device}});
}

void PanelRelay::CloseInspector() {
  if (inspector_.key == 0) return;
  SendToPlugin({{"event", "propertyInspectorDidDisappear"}, {"action", config_.action},
                {"context", ContextOf(inspector_.key)}, {"device", config_.device}});
  if (inspector_.client != 0) {
    roles_.erase(inspector_.client);
    callbacks_.close(inspector_.client);
  }
  inspector_ = Inspector{};
}

void PanelRelay::SendToPlugin(const json& message) {
  if (plugin_ != 0) callbacks_.send(plugin_, message.dump());
}

void PanelRelay::SendKeyEvent(const std::string& event, int key) {
  SendToPlugin({{"event", event}, {"action", config_.action}, {"context", ContextOf(key)},
                {"device", config_.device}, {"payload", KeyPayload(key)}});
}

void PanelRelay::StoreSettings(int key, const json& settings) {
  std::string error;
  if (!store_.Set(ContextOf(key), settings, error)) callbacks_.warn(error);
}

json PanelRelay::KeyPayload(int key) const {
  return {{"settings", store_.Get(ContextOf(key))},
          {"coordinates", {{"column", (key - 1) % kColumns}, {"row", (key - 1) / kColumns}}},
          {"isInMultiAction", false}};
}

json PanelRelay::PanelState() const {
  json keys = json::array();
  for (int key = 1; key <= kKeyCount; ++key) {
    keys.push_back({{"key", key}, {"context", ContextOf(key)}, {"image", images_[key - 1]}});
  }
  json inspector = nullptr;
  if (inspector_.key != 0) inspector = {{"key", inspector_.key}, {"url", inspector_.url}};
  json state = {{"event", "panelState"},
                {"language", config_.language},
                {"plugin", {{"name", config_.pluginName}, {"connected", plugin_ != 0}}},
                {"defaultImage", config_.defaultImage},
                {"keys", std::move(keys)},
                {"inspector", std::move(inspector)}};
  if (callbacks_.simState) state["simDevices"] = callbacks_.simState();
  return state;
}

void PanelRelay::BroadcastPanelState() {
  if (panels_.empty()) return;
  const std::string text = PanelState().dump();
  for (ClientId panel : panels_) callbacks_.send(panel, text);
}
