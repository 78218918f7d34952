// The key settings pnx-devhost's web mode keeps between runs: {"keys": {"key-1": {...}, ...}} in one file,
// with the action chosen for a key in "actions": {"key-1": "identifier"} (only once one was chosen),
// rewritten whole and atomically after every change. Not thread-safe: one owner.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// Writes text to a new file beside path and renames it over path, so that a reader never sees half of it.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);

class SettingsStore {
 public:
  explicit SettingsStore(std::string path) : m_path(std::move(path)) {}

  // Reads the file. A missing file starts empty. A file that cannot be read as settings is renamed aside
  // (its bytes untouched) and the store starts empty; warning then says so. False only in that case.
  bool Load(std::string& warning);

  // The stored settings of a context, {} when none.
  nlohmann::json Get(const std::string& context) const;
  // Stores settings (an object) for a context and writes the file; false with error when the write failed
  // (the value is kept in memory either way).
  bool Set(const std::string& context, const nlohmann::json& settings, std::string& error);

  // The action chosen for a context, "" when none was.
  std::string GetAction(const std::string& context) const;
  bool SetAction(const std::string& context, const std::string& action, std::string& error);

  const std::string& Path() const { return m_path; }

 private:
  bool Save(std::string& error) const;

  std::string m_path;
  nlohmann::json m_keys = nlohmann::json::object();
  nlohmann::json m_actions = nlohmann::json::object();
};
