// What pnx-devhost's web mode does with its clients' messages.
#include "tools/devhost/panel_relay.h"

#include <algorithm>
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
    : m_config(std::move(config)), m_store(store), m_callbacks(std::move(callbacks)) {
  if (m_config.actions.empty()) {
    m_config.actions.push_back({m_config.action, m_config.action, m_config.defaultImage, m_config.inspectorPage});
  }
}

const PanelRelay::Config::Action& PanelRelay::ActionOf(int key) const {
  const std::string chosen = m_store.GetAction(ContextOf(key));
  for (const auto& action : m_config.actions) {
    if (action.identifier == chosen) return action;
  }
  return m_config.actions.front();
}

int PanelRelay::KeyOfContext(const std::string& context) {
  for (int key = 1; key <= kKeyCount; ++key) {
    if (context == ContextOf(key)) return key;
  }
  return 0;
}

void PanelRelay::OnOpen(ClientId client, bool holdsToken) {
  m_roles[client] = Role::kUnknown;
  if (holdsToken) m_holdsToken.insert(client);
}

void PanelRelay::OnMessage(ClientId client, const std::string& text) {
  switch (m_roles[client]) {
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
  m_holdsToken.erase(client);
  const auto found = m_roles.find(client);
  if (found == m_roles.end()) return;
  const Role role = found->second;
  m_roles.erase(found);
  if (role == Role::kPlugin && client == m_plugin) {
    m_plugin = 0;
    m_callbacks.warn("the plug-in's connection has ended");
    BroadcastPanelState();
  } else if (role == Role::kInspector && client == m_inspector.client) {
    m_inspector.client = 0;  // the inspector page may reconnect with the same uuid
  } else if (role == Role::kPanel) {
    m_panels.erase(client);
  }
}

void PanelRelay::Register(ClientId client, const std::string& text) {
  const bool holdsToken = m_holdsToken.erase(client) != 0;
  const json message = ParseWithoutPayload(text);
  const std::string event = message.is_object() ? StringMember(message, "event") : std::string();
  const std::string uuid = message.is_object() ? StringMember(message, "uuid") : std::string();
  if (event == "registerPlugin" && uuid == m_config.pluginUUID && m_plugin == 0) {
    m_roles[client] = Role::kPlugin;
    m_plugin = client;
    for (int key = 1; key <= kKeyCount; ++key) SendKeyEvent("willAppear", key);
    if (m_inspector.key != 0) {
      SendToPlugin({{"event", "propertyInspectorDidAppear"}, {"action", ActionOf(m_inspector.key).identifier},
                    {"context", ContextOf(m_inspector.key)}, {"device", m_config.device}});
    }
    BroadcastPanelState();
  } else if (event == "registerPropertyInspector" && holdsToken && m_inspector.key != 0 &&
             uuid == m_inspector.uuid && m_inspector.client == 0) {
    m_roles[client] = Role::kInspector;
    m_inspector.client = client;
  } else if (event == "registerPanel" && holdsToken) {
    m_roles[client] = Role::kPanel;
    m_panels.insert(client);
    m_callbacks.send(client, PanelState().dump());
  } else {
    // Whoever cannot say who it is gets nothing.
    m_roles.erase(client);
    m_callbacks.close(client);
  }
}

void PanelRelay::FromPlugin(const std::string& text) {
  json message = ParseWithoutPayload(text);
  if (!message.is_object()) return;
  const std::string event = StringMember(message, "event");
  const int key = KeyOfContext(StringMember(message, "context"));
  if (key == 0) return;
  if (event == "sendToPropertyInspector") {
    // Already in the form the inspector expects; passed on as it came. A preview image may be skipped for an
    // inspector that is behind, as the plug-in skips them for a host that is.
    if (m_inspector.key != key || m_inspector.client == 0) return;
    const bool image = text.find("{\"imageData\":") < 256;
    (image && m_callbacks.sendSkippable ? m_callbacks.sendSkippable : m_callbacks.send)(m_inspector.client, text);
    return;
  }
  if (event != "setSettings" && event != "setImage") return;
  message = json::parse(text, nullptr, false);
  const auto payload = message.find("payload");
  if (payload == message.end() || !payload->is_object()) return;
  if (event == "setSettings") {
    StoreSettings(key, *payload);
    if (m_inspector.key == key && m_inspector.client != 0) {
      const json forwarded = {{"event", "didReceiveSettings"}, {"action", ActionOf(key).identifier},
                              {"context", ContextOf(key)}, {"device", m_config.device},
                              {"payload", {{"settings", *payload}}}};
      m_callbacks.send(m_inspector.client, forwarded.dump());
    }
  } else {
    m_images[key - 1] = StringMember(*payload, "image");
    BroadcastPanelState();
  }
}

void PanelRelay::FromInspector(ClientId client, const std::string& text) {
  // An inspector that has been closed since may still be talking; only the open one counts.
  if (client != m_inspector.client) return;
  const json message = json::parse(text, nullptr, false);
  if (!message.is_object() || StringMember(message, "context") != m_inspector.uuid) return;
  const std::string event = StringMember(message, "event");
  const int key = m_inspector.key;
  if (event == "getSettings") {
    // An inspector page loaded again (the panel page reloaded) starts from what is stored now, not from the
    // settings its address was made with.
    const json answer = {{"event", "didReceiveSettings"}, {"action", ActionOf(key).identifier},
                         {"context", ContextOf(key)}, {"device", m_config.device},
                         {"payload", {{"settings", m_store.Get(ContextOf(key))}}}};
    m_callbacks.send(client, answer.dump());
    return;
  }
  const auto payload = message.find("payload");
  if (payload == message.end() || !payload->is_object()) return;
  if (event == "setSettings") {
    StoreSettings(key, *payload);
    SendKeyEvent("didReceiveSettings", key);
  } else if (event == "sendToPlugin") {
    SendToPlugin({{"event", "sendToPlugin"}, {"action", ActionOf(key).identifier}, {"context", ContextOf(key)},
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
    if (m_callbacks.simControl && m_callbacks.simControl(message)) BroadcastPanelState();
    return;
  }
  const int key = KeyMember(message);
  if (key == 0) return;
  if (event == "keyDown" || event == "keyUp") {
    SendKeyEvent(event, key);
  } else if (event == "openInspector") {
    OpenInspector(key);
    BroadcastPanelState();
  } else if (event == "setAction") {
    SetAction(key, StringMember(message, "action"));
  }
}

// As a person drags another action onto a key in a host: the old one disappears, the new one appears with the
// key's settings (both actions read the same settings, so they are kept to be tried with the other).
void PanelRelay::SetAction(int key, const std::string& action) {
  const bool known = std::any_of(m_config.actions.begin(), m_config.actions.end(),
                                 [&](const Config::Action& a) { return a.identifier == action; });
  if (!known || ActionOf(key).identifier == action) return;
  const bool inspecting = m_inspector.key == key;
  if (inspecting) CloseInspector();
  SendKeyEvent("willDisappear", key);
  std::string error;
  if (!m_store.SetAction(ContextOf(key), action, error)) m_callbacks.warn(error);
  m_images[key - 1].clear();
  SendKeyEvent("willAppear", key);
  // Its inspector opens again, for the new action.
  if (inspecting) OpenInspector(key);
  BroadcastPanelState();
}

void PanelRelay::OpenInspector(int key) {
  CloseInspector();
  m_inspector.key = key;
  m_inspector.uuid = m_callbacks.newUUID();
  m_inspector.client = 0;
  const Config::Action& action = ActionOf(key);
  const json actionInfo = {{"action", action.identifier},
                           {"context", ContextOf(key)},
                           {"device", m_config.device},
                           {"payload", KeyPayload(key)}};
  m_inspector.url = action.inspectorPage + "?port=" + std::to_string(m_config.port) +
                   "&uuid=" + PercentEncode(m_inspector.uuid) +
                   "&registerEvent=registerPropertyInspector&info=" + PercentEncode(m_config.info) +
                   "&actionInfo=" + PercentEncode(actionInfo.dump()) + "&token=" + PercentEncode(m_config.token);
  SendToPlugin({{"event", "propertyInspectorDidAppear"}, {"action", action.identifier}, {"context", ContextOf(key)},
                {"device", m_config.device}});
}

void PanelRelay::CloseInspector() {
  if (m_inspector.key == 0) return;
  SendToPlugin({{"event", "propertyInspectorDidDisappear"}, {"action", ActionOf(m_inspector.key).identifier},
                {"context", ContextOf(m_inspector.key)}, {"device", m_config.device}});
  if (m_inspector.client != 0) {
    m_roles.erase(m_inspector.client);
    m_callbacks.close(m_inspector.client);
  }
  m_inspector = Inspector{};
}

void PanelRelay::SendToPlugin(const json& message) {
  if (m_plugin != 0) m_callbacks.send(m_plugin, message.dump());
}

void PanelRelay::SendKeyEvent(const std::string& event, int key) {
  SendToPlugin({{"event", event}, {"action", ActionOf(key).identifier}, {"context", ContextOf(key)},
                {"device", m_config.device}, {"payload", KeyPayload(key)}});
}

void PanelRelay::StoreSettings(int key, const json& settings) {
  std::string error;
  if (!m_store.Set(ContextOf(key), settings, error)) m_callbacks.warn(error);
}

json PanelRelay::KeyPayload(int key) const {
  return {{"settings", m_store.Get(ContextOf(key))},
          {"coordinates", {{"column", (key - 1) % kColumns}, {"row", (key - 1) / kColumns}}},
          {"isInMultiAction", false}};
}

json PanelRelay::PanelState() const {
  json keys = json::array();
  for (int key = 1; key <= kKeyCount; ++key) {
    const Config::Action& action = ActionOf(key);
    keys.push_back({{"key", key}, {"context", ContextOf(key)}, {"image", m_images[key - 1]},
                    {"action", action.identifier}, {"defaultImage", action.defaultImage}});
  }
  json actions = json::array();
  for (const auto& action : m_config.actions) {
    actions.push_back({{"identifier", action.identifier}, {"name", action.name}});
  }
  json inspector = nullptr;
  if (m_inspector.key != 0) inspector = {{"key", m_inspector.key}, {"url", m_inspector.url}};
  json state = {{"event", "panelState"},
                {"language", m_config.language},
                {"plugin", {{"name", m_config.pluginName}, {"connected", m_plugin != 0}}},
                {"defaultImage", m_config.defaultImage},
                {"keys", std::move(keys)},
                {"actions", std::move(actions)},
                {"inspector", std::move(inspector)}};
  if (m_callbacks.simState) state["simDevices"] = m_callbacks.simState();
  return state;
}

void PanelRelay::BroadcastPanelState() {
  if (m_panels.empty()) return;
  const std::string text = PanelState().dump();
  for (ClientId panel : m_panels) m_callbacks.send(panel, text);
}
