// The fixture every end-to-end test of the real plug-in process shares: its test host and the checks that end
// every run.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "tests/plugin/plugin_test_host.h"

class PluginProcessFixture : public ::testing::Test {
 protected:
  // Every run ends with exit code 0 when the host closes, and the plug-in never writes to the console
  // (a sanitizer report would land there too).
  void TearDown() override {
    if (m_host.Running()) {
      EXPECT_EQ(m_host.CloseAndWait(), 0);
    }
    if (!m_outputPath.empty()) {
      EXPECT_EQ(ReadFile(m_outputPath), "");
    }
  }

  PluginTestHost m_host;
  std::string m_tracePath;
  std::string m_outputPath;
};
