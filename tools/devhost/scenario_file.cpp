// The development host's scenario file.
#include "tools/devhost/scenario_file.h"

#include <fstream>

bool LoadScenario(const std::string& path, nlohmann::json& steps, std::string& error) {
  steps = nlohmann::json::array();
  if (path.empty()) return true;
  std::ifstream file(path);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  try {
    steps = nlohmann::json::parse(file);
  } catch (const nlohmann::json::exception& e) {
    error = path + ": " + e.what();
    return false;
  }
  if (!steps.is_array()) {
    error = path + ": the scenario must be a JSON array of steps";
    return false;
  }
  for (size_t i = 0; i < steps.size(); ++i) {
    const nlohmann::json& step = steps[i];
    const bool ok = step.is_object() &&
                    ((step.contains("send")) ||
                     (step.contains("sendText") && step["sendText"].is_string()) ||
                     (step.contains("sendBinary") && step["sendBinary"].is_string()) ||
                     (step.contains("wait") && step["wait"].is_number_unsigned()) ||
                     (step.contains("waitFor") && step["waitFor"].is_string() &&
                      (!step.contains("timeout") || step["timeout"].is_number_unsigned())) ||
                     (step.contains("comment") && step["comment"].is_string()));
    if (!ok) {
      error = path + ": step " + std::to_string(i + 1) + " is not one of the known steps: " + step.dump();
      return false;
    }
  }
  return true;
}
