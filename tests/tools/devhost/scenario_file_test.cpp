// The development host's scenario file is checked whole before a run: a wrong step is named, not met halfway.
#include "tools/devhost/scenario_file.h"

#include <gtest/gtest.h>

#include "tests/plugin/plugin_test_host.h"

namespace {

TEST(ScenarioFile, KnownStepsAreTakenAndTheFirstWrongOneIsNamed) {
  const struct {
    const char* text;
    const char* error;  // "" = taken
  } cases[] = {
      {R"([{"send": {"event": "keyUp"}}, {"sendText": "x"}, {"sendBinary": "y"}, {"wait": 0},
           {"waitFor": "setSettings"}, {"waitFor": "setImage", "timeout": 100}, {"comment": "c"}])", ""},
      {"[]", ""},
      {R"({"send": {}})", "must be a JSON array"},
      {"[", "parse error"},
      {R"([{"wait": 1}, {"wait": -1}])", "step 2 is not one of the known steps"},
      {R"([{"wait": 1.5}])", "step 1 is not"},
      {R"([{"waitFor": "x", "timeout": "1"}])", "step 1 is not"},
      {R"([{"sendText": 1}])", "step 1 is not"},
      {R"([{"press": 1}])", "step 1 is not"},
      {R"(["comment"])", "step 1 is not"},
  };
  const std::string path = TempPath("scenario.json");
  for (const auto& c : cases) {
    WriteFile(path, c.text);
    nlohmann::json steps;
    std::string error;
    EXPECT_EQ(LoadScenario(path, steps, error), *c.error == '\0') << c.text;
    if (*c.error == '\0') {
      EXPECT_EQ(steps, nlohmann::json::parse(c.text));
    } else {
      EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
  nlohmann::json steps;
  std::string error;
  EXPECT_TRUE(LoadScenario("", steps, error));
  EXPECT_EQ(steps, nlohmann::json::array());
  EXPECT_FALSE(LoadScenario(path + ".missing", steps, error));
  EXPECT_EQ(error, "cannot open " + path + ".missing");
}

}  // namespace
