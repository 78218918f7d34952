// The host's JSON message protocol, kept apart from the transport: parsing and dispatching an incoming message,
// and building the outgoing texts. The builders are pure functions, safe on any thread; dispatch runs the
// plug-in's handler on the calling thread (the connection's event loop).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

class PnxBasePlugin;

// Parses one incoming text message and calls at most one operation of plugin. Every exception, the
// plug-in's included, is caught and discarded: a message that is not a JSON object (a NUL byte anywhere
// makes it one that is not), names no known event or nests deeper than kMaxJsonNesting is ignored.
void DispatchHostMessage(const std::string& text, PnxBasePlugin& plugin);

// Outgoing texts: compact, members in ascending key order, non-ASCII as raw UTF-8. Each throws the JSON
// library's type_error when a string argument is not valid UTF-8.
std::string BuildRegistrationMessage(const std::string& registerEvent, const std::string& pluginUUID);
std::string BuildSetImageMessage(const std::string& image, const std::string& context);
std::string BuildSetSettingsMessage(const nlohmann::json& settings, const std::string& context);
std::string BuildSendToPropertyInspectorMessage(const std::string& action, const std::string& context,
                                                const nlohmann::json& payload);
// As above with the payload already serialised (compact JSON text, inserted unchanged).
std::string BuildSendToPropertyInspectorMessageFromText(const std::string& action, const std::string& context,
                                                        const std::string& payloadText);
