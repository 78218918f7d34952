// The emulated node changing its frame size while it streams: the first sample of a new size carries its media
// type, every sample's length is that of the size announced last, and the control file's "frame" entry.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "platform/emulator/emulator_state.h"
#include "tests/platform/platform_test_util.h"

namespace {

const char kConfig[] = R"({"frame": {"width": 64, "height": 48, "fps": 200}})";

class RunningFrameSize : public GraphTest {
 protected:
  ~RunningFrameSize() override { emulator::SetRunningFrameSize(0, 0); }

  // Runs until `more` further samples arrived, then leaves the graph running.
  void Receive(size_t more) {
    ASSERT_TRUE(m_sink->WaitForSamples(m_sink->Samples().size() + more, std::chrono::seconds(10)));
  }

  // The sizes announced by sample types, in order; fails when a sample's length is not that of the size in
  // force (the connection's until the first announcement).
  std::vector<std::pair<int32_t, int32_t>> Announced() {
    std::vector<std::pair<int32_t, int32_t>> sizes;
    int32_t width = 64, height = 48;
    const std::vector<ReceivedSample> samples = m_sink->Samples();
    for (size_t i = 0; i < samples.size(); ++i) {
      if (samples[i].typeWidth != 0) {
        width = samples[i].typeWidth;
        height = samples[i].typeHeight;
        sizes.emplace_back(width, height);
      }
      EXPECT_EQ(samples[i].length, width * height * 3) << "sample " << i << " of " << width << "x" << height;
    }
    return sizes;
  }
};

TEST_F(RunningFrameSize, TheFirstSampleOfANewSizeCarriesItsType) {
  BuildConnected(kConfig);
  ASSERT_EQ(m_control->Run(), S_OK);
  Receive(3);
  emulator::SetRunningFrameSize(32, 24);
  Receive(5);
  emulator::SetRunningFrameSize(32, 24);  // the size in force: nothing to announce
  Receive(3);
  emulator::SetRunningFrameSize(128, 96);  // larger than the buffers agreed at connection: not taken
  Receive(5);
  emulator::SetRunningFrameSize(0, 0);  // back to the connection's size
  Receive(3);
  emulator::SetRunningFrameSize(32, 24);
  Receive(3);
  ASSERT_EQ(m_control->Stop(), S_OK);
  // A new run starts with the size the sink saw last; taken back while stopped, the first sample says so.
  emulator::SetRunningFrameSize(0, 0);
  ASSERT_EQ(m_control->Run(), S_OK);
  Receive(3);
  ASSERT_EQ(m_control->Stop(), S_OK);
  EXPECT_EQ(Announced(), (std::vector<std::pair<int32_t, int32_t>>{{32, 24}, {64, 48}, {32, 24}, {64, 48}}));
}

// S_FALSE is a success code that means "no": a sink answering it keeps the size it was connected with.
TEST_F(RunningFrameSize, ASinkAnsweringSFalseKeepsTheConnectedSize) {
  BuildConnected(kConfig);
  m_sink->AnswerQueryAccept(S_FALSE);
  ASSERT_EQ(m_control->Run(), S_OK);
  Receive(3);
  emulator::SetRunningFrameSize(32, 24);
  ASSERT_TRUE(m_sink->WaitForQueries(1, std::chrono::seconds(10)));
  Receive(3);  // delivered after the answer
  ASSERT_EQ(m_control->Stop(), S_OK);
  EXPECT_EQ(Announced(), (std::vector<std::pair<int32_t, int32_t>>{}));
}

// The control file's "frame" entry, read whenever the file changed.
TEST_F(PlatformTest, TheControlFileSetsTheRunningFrameSize) {
  const std::string path = "/tmp/pnx_platform_tests_" + std::to_string(getpid()) + ".control";
  ASSERT_EQ(setenv("PNX_SIM_CONTROL", path.c_str(), 1), 0);
  ASSERT_TRUE(emulator::LoadConfigurationText("{}"));
  const struct {
    const char* text;
    int32_t width, height;  // 0 x 0: none
  } cases[] = {
      {R"({"frame": {"width": 1280, "height": 720}})", 1280, 720},
      {R"({"unplugged": []})", 0, 0},
      {R"({"frame": {"width": 8192, "height": 1}})", 8192, 1},
      {R"({"frame": {"width": 8193, "height": 720}})", 0, 0},
      {R"({"frame": {"width": 1280}})", 0, 0},
      {R"({"frame": [1280, 720]})", 0, 0},
      {R"({"frame": {"width": 640, "height": 360}})", 640, 360},
      {R"(not json)", 640, 360},  // changes nothing
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(cases[i].text);
    // The file is known by its size and time: a length of its own for each case makes every change visible.
    std::ofstream(path, std::ios::trunc) << cases[i].text << std::string(i, ' ');
    int32_t width = 0, height = 0;
    const bool set = emulator::ReadRunningFrameSize(&width, &height);
    EXPECT_EQ(set, cases[i].width != 0);
    if (set) {
      EXPECT_EQ(std::make_pair(width, height), std::make_pair(cases[i].width, cases[i].height));
    }
  }
  unsetenv("PNX_SIM_CONTROL");
  std::remove(path.c_str());
}

}  // namespace
