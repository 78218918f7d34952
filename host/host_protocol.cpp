// The host's JSON message protocol: incoming dispatch and outgoing texts.
#include "host/host_protocol.h"

#include "host/json_members.h"
#include "host/pnx_base_plugin.h"

namespace {

void AppendJsonString(std::string& out, const std::string& text) {
  // A JSON string value serialises exactly as the library would write it inside an object.
  out += nlohmann::json(text).dump();
}

// The outgoing objects are written member by member in ascending key order, which is byte for byte what
// serialising the equivalent nlohmann::json object gives, without first copying a large payload into one.
std::string BeginEnvelope(const std::string& context, const char* event) {
  std::string out = "{\"context\":";
  AppendJsonString(out, context);
  out += ",\"event\":\"";
  out += event;
  out += "\",\"payload\":";
  return out;
}

void Dispatch(const nlohmann::json& message, PnxBasePlugin& plugin) {
  const std::string event = ReadStringMember(message, "event", "");
  const std::string context = ReadStringMember(message, "context", "");
  const std::string action = ReadStringMember(message, "action", "");
  const std::string device = ReadStringMember(message, "device", "");
  nlohmann::json payload;
  ReadObjectMember(message, "payload", payload);

  if (event == "keyDown") {
    plugin.OnKeyDown(action, context, payload, device);
  } else if (event == "keyUp") {
    plugin.OnKeyUp(action, context, payload, device);
  } else if (event == "willAppear") {
    plugin.OnWillAppear(action, context, payload, device);
  } else if (event == "willDisappear") {
    plugin.OnWillDisappear(action, context, payload, device);
  } else if (event == "deviceDidConnect") {
    nlohmann::json deviceInfo;
    ReadObjectMember(message, "deviceInfo", deviceInfo);
    plugin.OnDeviceDidConnect(device, deviceInfo);
  } else if (event == "deviceDidDisconnect") {
    plugin.OnDeviceDidDisconnect(device);
  } else if (event == "sendToPlugin") {
    plugin.OnSendToPlugin(action, context, payload, device);
  } else if (event == "applicationDidLaunch") {
    plugin.OnApplicationDidLaunch(payload);
  } else if (event == "applicationDidTerminate") {
    plugin.OnApplicationDidTerminate(payload);
  } else if (event == "propertyInspectorDidAppear") {
    plugin.OnPropertyInspectorDidAppear(action, context, device);
  } else if (event == "propertyInspectorDidDisappear") {
    plugin.OnPropertyInspectorDidDisappear(action, context, device);
  } else if (event == "didReceiveSettings") {
    plugin.OnDidReceiveSettings(action, context, payload, device);
  }
}

}  // namespace

void DispatchHostMessage(const std::string& text, PnxBasePlugin& plugin) {
  // The edge where a bad message or a failing handler is swallowed: nothing reaches the host or the console.
  try {
    // The parser takes a NUL byte for the end of the text: what follows it would go unread. JSON has no
    // place for a raw NUL, so such a message is not JSON.
    if (text.find('\0') != std::string::npos) return;
    if (!JsonNestingWithin(text, kMaxJsonNesting)) return;
    Dispatch(nlohmann::json::parse(text), plugin);
  } catch (...) {
  }
}

std::string BuildRegistrationMessage(const std::string& registerEvent, const std::string& pluginUUID) {
  std::string out = "{\"event\":";
  AppendJsonString(out, registerEvent);
  out += ",\"uuid\":";
  AppendJsonString(out, pluginUUID);
  out += '}';
  return out;
}

std::string BuildSetImageMessage(const std::string& image, const std::string& context) {
  std::string out = BeginEnvelope(context, "setImage");
  out += "{\"image\":";
  AppendJsonString(out, image);
  out += ",\"target\":0}}";
  return out;
}

std::string BuildSetSettingsMessage(const nlohmann::json& settings, const std::string& context) {
  std::string out = BeginEnvelope(context, "setSettings");
  out += settings.dump();
  out += '}';
  return out;
}

std::string BuildSendToPropertyInspectorMessage(const std::string& action, const std::string& context,
                                                const nlohmann::json& payload) {
  return BuildSendToPropertyInspectorMessageFromText(action, context, payload.dump());
}

std::string BuildSendToPropertyInspectorMessageFromText(const std::string& action, const std::string& context,
                                                        const std::string& payloadText) {
  std::string out;
  out.reserve(payloadText.size() + action.size() + context.size() + 64);
  out += "{\"action\":";
  AppendJsonString(out, action);
  out += ",\"context\":";
  AppendJsonString(out, context);
  out += ",\"event\":\"sendToPropertyInspector\",\"payload\":";
  out += payloadText;
  out += '}';
  return out;
}
