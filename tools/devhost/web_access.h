// Who pnx-devhost's web mode answers. A page reached under a foreign name (DNS rebinding) and pages of other
// sites are refused; a client that does not hold the run's token may register only as the plug-in, whatever
// Origin it sends (a local program can send any). Pure functions.
#pragma once

#include <cstdint>
#include <string>

// True when a Host header names this server: 127.0.0.1:port or localhost:port, the name in any case; the port
// may be left out only when it is 80, as clients leave out the default port.
bool HostAllowed(const std::string& host, uint16_t port);

// True when a WebSocket handshake's Origin ("" when absent) may proceed: absent, or an origin of a page this
// server serves, http://127.0.0.1:port or http://localhost:port.
bool OriginAllowed(const std::string& origin, uint16_t port);

// The percent-decoded value of the first parameter called name in a request target's query ("/?a=1&b=2"),
// or "" when there is none or its escapes are malformed.
std::string QueryParameter(const std::string& resource, const std::string& name);

// A fresh random token for one run: 32 lowercase hexadecimal digits.
std::string NewAccessToken();

// The printed address of the panel page, carrying the token.
std::string PanelPageUrl(uint16_t port, const std::string& token);

enum class WebSocketAccess {
  kRefused,     // foreign Host or Origin: the handshake is refused
  kPluginOnly,  // no matching token: may register as the plug-in (its own uuid is its proof), nothing else
  kAny,         // holds the token: may register as any client
};

// What a WebSocket handshake with these Host and Origin headers and this request target may become; token is
// the run's (never empty).
WebSocketAccess WebSocketAccessFor(const std::string& host, const std::string& origin, const std::string& resource,
                                   uint16_t port, const std::string& token);
