// Which signal changes make a state key be drawn anew, and when a key counts as live.
#include "plugin/state_keys.h"

#include <gtest/gtest.h>

namespace {

ActionSettings ShowingState(uint32_t layout, std::vector<int32_t> sources) {
  ActionSettings settings;
  settings.showState = true;
  settings.devices.resize(2);
  settings.devices[1].multiViewLayout = layout;
  settings.devices[1].multiViewSources = std::move(sources);
  return settings;
}

TEST(StateKeys, OnlyASignalChangeOfAShownInputAsksForADrawing) {
  const DeviceState shows{100, 0x1133, true};  // places 3, 3, 1, 1 on device 1
  const std::vector<std::vector<bool>> drawnWith = {{}, {true, false, true, true}};
  const struct {
    const char* name;
    std::vector<std::vector<bool>> now;
    bool redraw;
  } cases[] = {
      {"unchanged", drawnWith, false},
      {"input not shown", {{}, {true, true, true, false}}, false},
      {"shown input lost", {{}, {true, false, false, true}}, true},
      {"device gone from the list", {{}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StateKeys keys;
    LayoutNames names;
    keys.Track("K", ShowingState(100, {3, 3, 1, 1}), 1);
    keys.Draw(1, true, true, shows, drawnWith, names, "");
    EXPECT_EQ(keys.SignalChanges(c.now), c.redraw ? std::vector<int32_t>{1} : std::vector<int32_t>{});
  }
  // Nothing is watched for a device that could not be read, or that no key shows any more.
  StateKeys keys;
  LayoutNames names;
  keys.Track("K", ShowingState(100, {3, 3, 1, 1}), 1);
  keys.Draw(1, true, false, shows, drawnWith, names, "");
  EXPECT_TRUE(keys.SignalChanges({{}, {false, false, false, false}}).empty());
  keys.Draw(1, true, true, shows, drawnWith, names, "");
  EXPECT_TRUE(keys.Forget("K"));
  EXPECT_TRUE(keys.SignalChanges({{}, {false, false, false, false}}).empty());
}

TEST(StateKeys, LiveMeansTheLayoutAndTheFourSourcesAPressWouldSend) {
  const DeviceState shows{7, 0x4321, true};
  const struct {
    uint32_t layout;
    std::vector<int32_t> sources;
    bool live;
  } cases[] = {
      {7, {1, 2, 3, 4}, true},
      {7, {17, 2, 3, 4, 9}, true},  // as packed: low four bits, first four entries
      {8, {1, 2, 3, 4}, false},
      {7, {1, 2, 3}, false},
  };
  for (const auto& c : cases) {
    StateKeys keys;
    LayoutNames names;
    ASSERT_FALSE(keys.Track("K", ShowingState(c.layout, c.sources), 1));
    const auto images = keys.Draw(1, true, true, shows, {}, names, "");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].second.live, c.live) << c.layout << " " << c.sources.size();
    // A key image takes over: the key is dropped.
    ActionSettings withIcon = ShowingState(c.layout, c.sources);
    withIcon.icon = "data:image/png;base64,QQ==";
    EXPECT_TRUE(keys.Track("K", withIcon, 1));
    EXPECT_TRUE(keys.Empty());
  }
}

}  // namespace
