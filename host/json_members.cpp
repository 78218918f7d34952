// Readers for members of host JSON documents, with defaults.
#include "host/json_members.h"

bool ReadObjectMember(const nlohmann::json& json, const std::string& key, nlohmann::json& out) {
  if (!json.is_object()) return false;
  const auto it = json.find(key);
  if (it == json.end() || !it->is_object()) return false;
  out = *it;
  return true;
}

std::string ReadStringMember(const nlohmann::json& json, const std::string& key,
                             const std::string& defaultValue) {
  if (!json.is_object()) return defaultValue;
  const auto it = json.find(key);
  if (it == json.end() || !it->is_string()) return defaultValue;
  return it->get_ref<const std::string&>();
}

bool JsonNestingWithin(const std::string& text, int maxDepth) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > maxDepth) return false;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return true;
}
