// The key settings of pnx-devhost's web mode.
#include "tools/devhost/settings_store.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "tools/devhost/http_files.h"

namespace {

// Large enough for any settings a person makes with the inspector, small enough to refuse a stray file.
constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;

bool ReadSettingsFile(const std::string& path, nlohmann::json& keys, nlohmann::json& actions) {
  std::string text;
  if (!ReadWholeFile(path, kMaxFileBytes, text)) return false;
  const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
  if (!document.is_object()) return false;
  const auto found = document.find("keys");
  if (found == document.end() || !found->is_object()) return false;
  for (const auto& entry : found->items()) {
    if (!entry.value().is_object()) return false;
  }
  keys = *found;
  // A stray choice of action is dropped, not worth losing the settings for: the key gets the first action.
  actions = nlohmann::json::object();
  const auto chosen = document.find("actions");
  if (chosen != document.end() && chosen->is_object()) {
    for (const auto& entry : chosen->items()) {
      if (entry.value().is_string()) actions[entry.key()] = entry.value();
    }
  }
  return true;
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof(text), "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

}  // namespace

bool SettingsStore::Load(std::string& warning) {
  m_keys = nlohmann::json::object();
  m_actions = nlohmann::json::object();
  if (access(m_path.c_str(), F_OK) != 0) return true;
  if (ReadSettingsFile(m_path, m_keys, m_actions)) return true;
  m_keys = nlohmann::json::object();
  m_actions = nlohmann::json::object();
  // Never overwrite what the person configured: the unreadable file moves aside under a name not yet taken.
  std::string aside = m_path + ".corrupt-" + Timestamp();
  for (int n = 2; access(aside.c_str(), F_OK) == 0; ++n) {
    aside = m_path + ".corrupt-" + Timestamp() + "-" + std::to_string(n);
  }
  if (std::rename(m_path.c_str(), aside.c_str()) != 0) {
    warning = m_path + " cannot be read as settings and cannot be renamed aside (" + std::strerror(errno) +
              "); starting with no settings and leaving it as it is";
    // Nothing may be written over it later either.
    m_path.clear();
    return false;
  }
  warning = m_path + " cannot be read as settings; kept as " + aside + ", starting with no settings";
  return false;
}

nlohmann::json SettingsStore::Get(const std::string& context) const {
  const auto found = m_keys.find(context);
  return found == m_keys.end() ? nlohmann::json::object() : *found;
}

bool SettingsStore::Set(const std::string& context, const nlohmann::json& settings, std::string& error) {
  m_keys[context] = settings;
  return Save(error);
}

std::string SettingsStore::GetAction(const std::string& context) const {
  const auto found = m_actions.find(context);
  return found == m_actions.end() ? std::string() : found->get<std::string>();
}

bool SettingsStore::SetAction(const std::string& context, const std::string& action, std::string& error) {
  m_actions[context] = action;
  return Save(error);
}

bool SettingsStore::Save(std::string& error) const {
  if (m_path.empty()) {
    error = "the settings are not saved (the settings file could not be moved aside)";
    return false;
  }
  nlohmann::json document = {{"keys", m_keys}};
  // Files of keys that never changed action stay as they were.
  if (!m_actions.empty()) document["actions"] = m_actions;
  return WriteFileAtomically(m_path, document.dump(2) + "\n", error);
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  const std::string temporary = path + ".tmp-" + std::to_string(getpid());
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << text;
    file.flush();
    if (!file) {
      file.close();
      std::remove(temporary.c_str());
      error = "cannot write " + temporary;
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot replace " + path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}
