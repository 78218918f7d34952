// Who pnx-devhost's web mode answers.
#include "tools/devhost/web_access.h"

#include <cctype>
#include <cstdio>
#include <random>

#include "tools/devhost/http_files.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The host[:port] forms under which this server is addressed.
bool IsOwnAuthority(const std::string& authority, uint16_t port) {
  const std::string lowered = Lower(authority);
  const std::string suffix = ":" + std::to_string(port);
  for (const char* name : {"127.0.0.1", "localhost"}) {
    if (lowered == name + suffix || (port == 80 && lowered == name)) return true;
  }
  return false;
}

// Takes as long for every pair of the same length, so that the token cannot be guessed a digit at a time.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace

bool HostAllowed(const std::string& host, uint16_t port) { return IsOwnAuthority(host, port); }

bool OriginAllowed(const std::string& origin, uint16_t port) {
  if (origin.empty()) return true;
  const std::string scheme = "http://";
  return Lower(origin.substr(0, scheme.size())) == scheme && IsOwnAuthority(origin.substr(scheme.size()), port);
}

std::string QueryParameter(const std::string& resource, const std::string& name) {
  const std::string target = resource.substr(0, resource.find('#'));
  const size_t question = target.find('?');
  if (question == std::string::npos) return "";
  size_t start = question + 1;
  while (start <= target.size()) {
    size_t end = target.find('&', start);
    if (end == std::string::npos) end = target.size();
    const std::string pair = target.substr(start, end - start);
    const size_t equals = pair.find('=');
    std::string key;
    if (PercentDecode(pair.substr(0, equals), key) && key == name) {
      std::string value;
      return equals != std::string::npos && PercentDecode(pair.substr(equals + 1), value) ? value : "";
    }
    start = end + 1;
  }
  return "";
}

std::string NewAccessToken() {
  std::random_device device;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char word[9];
    std::snprintf(word, sizeof(word), "%08x", static_cast<unsigned>(device()));
    token += word;
  }
  return token;
}

std::string PanelPageUrl(uint16_t port, const std::string& token) {
  return "http://127.0.0.1:" + std::to_string(port) + "/?token=" + PercentEncode(token);
}

WebSocketAccess WebSocketAccessFor(const std::string& host, const std::string& origin, const std::string& resource,
                                   uint16_t port, const std::string& token) {
  if (!HostAllowed(host, port) || !OriginAllowed(origin, port)) return WebSocketAccess::kRefused;
  return !token.empty() && SameSecret(QueryParameter(resource, "token"), token) ? WebSocketAccess::kAny
                                                                                 : WebSocketAccess::kPluginOnly;
}
