// DeviceWatch on POSIX: rewrites of the emulated device's control file in quick succession are one change.
#include "device/device_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

using std::chrono::milliseconds;

// Rewrites the file whole, as the control file is meant to be changed: a new file renamed over the old one.
void Rewrite(const std::string& path, const std::string& text) {
  const std::string fresh = path + ".new";
  std::ofstream(fresh) << text;
  ASSERT_EQ(std::rename(fresh.c_str(), path.c_str()), 0);
}

TEST(DeviceWatch, RewritesInQuickSuccessionAreOneChange) {
  const std::string folder = "/tmp/pnx_device_watch_" + std::to_string(getpid());
  const std::string control = folder + "/control.json";
  ASSERT_EQ(std::system(("mkdir -p " + folder).c_str()), 0);
  ASSERT_EQ(setenv("PNX_SIM_CONTROL", control.c_str(), 1), 0);
  std::atomic<int> changes{0};
  DeviceWatch watch;
  ASSERT_TRUE(watch.Start([&] { ++changes; }));

  // Four devices' worth of news, one after another.
  for (int i = 0; i < 4; ++i) {
    Rewrite(control, R"({"unplugged": [)" + std::to_string(i + 1) + "]}");
    std::this_thread::sleep_for(milliseconds(40));
  }
  for (int i = 0; i < 1000 && changes == 0; ++i) std::this_thread::sleep_for(milliseconds(10));
  // A second change would come a settle time after the first: shown only by waiting that long, twice.
  std::this_thread::sleep_for(DeviceWatch::kSettleTime * 2);
  EXPECT_EQ(changes, 1);
  watch.Stop();

  unsetenv("PNX_SIM_CONTROL");
  std::remove(control.c_str());
  std::remove(folder.c_str());
}

}  // namespace
