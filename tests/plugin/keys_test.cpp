// Which signal changes make a drawn key be drawn anew, when a key counts as live, and that a key is sent an
// image only when its image changes.
#include "plugin/keys.h"

#include <gtest/gtest.h>

#include "tests/plugin/fake_ports.h"

namespace {

ActionSettings ShowingState(uint32_t layout, std::vector<int32_t> sources) {
  ActionSettings settings;
  settings.currentDevice = "Brelvon 2";
  settings.showState = true;
  settings.devices.resize(2);
  settings.devices[1].multiViewLayout = layout;
  settings.devices[1].multiViewSources = std::move(sources);
  return settings;
}

TEST(Keys, OnlyASignalChangeOfAShownInputAsksForADrawing) {
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
    FakeHost host;
    Keys keys(host);
    keys.Settings("K", "a", ShowingState(100, {3, 3, 1, 1}), 1, false, Keys::Event::kAppeared);
    keys.Confirmed(1, true, true, shows, drawnWith);
    EXPECT_EQ(keys.SignalChanges(c.now), c.redraw ? std::vector<int32_t>{1} : std::vector<int32_t>{});
  }
  // Nothing is watched for a device that could not be read, or that no key draws any more.
  FakeHost host;
  Keys keys(host);
  keys.Settings("K", "a", ShowingState(100, {3, 3, 1, 1}), 1, false, Keys::Event::kAppeared);
  keys.Confirmed(1, true, false, shows, drawnWith);
  EXPECT_TRUE(keys.SignalChanges({{}, {false, false, false, false}}).empty());
  keys.Confirmed(1, true, true, shows, drawnWith);
  keys.Gone("K");
  EXPECT_TRUE(keys.SignalChanges({{}, {false, false, false, false}}).empty());
}

TEST(Keys, LiveMeansTheDeviceShowsTheLayoutAndFirstFourSourcesTheSettingsHold) {
  const DeviceState shows{7, 0x4321, true};
  const struct {
    uint32_t layout;
    std::vector<int32_t> sources;
    bool live;
  } cases[] = {
      {7, {1, 2, 3, 4}, true},
      {7, {1, 2, 3, 4, 9}, true},
      {7, {17, 2, 3, 4}, false},  // packed it would read as 1; the settings say 17
      {8, {1, 2, 3, 4}, false},
      {7, {1, 2, 3}, false},
  };
  for (const auto& c : cases) {
    FakeHost host;
    Keys keys(host);
    LayoutNames names;
    keys.Settings("K", "a", ShowingState(c.layout, c.sources), 1, false, Keys::Event::kAppeared);
    keys.Confirmed(1, true, true, shows, {});
    StateImage image;
    ASSERT_TRUE(keys.DrawnImage("K", names, image));
    EXPECT_EQ(image.live, c.live) << c.layout << " " << c.sources.size();
    // A key image takes over: the key is no longer drawn.
    ActionSettings withIcon = ShowingState(c.layout, c.sources);
    withIcon.icon = "data:image/png;base64,QQ==";
    keys.Settings("K", "a", withIcon, 1, false, Keys::Event::kChanged);
    EXPECT_FALSE(keys.DrawnImage("K", names, image));
    EXPECT_FALSE(keys.AnyDrawn());
  }
}

TEST(Keys, AnImageIsSentOnlyWhenItChangesAndAgainWhenTheKeyAppears) {
  FakeHost host;
  Keys keys(host);
  LayoutNames names;
  const auto images = [&] {
    int count = 0;
    for (const nlohmann::json& m : host.Take()) count += m["event"] == "setImage";
    return count;
  };
  keys.Settings("K", "a", ShowingState(7, {1, 2, 3, 4}), 1, false, Keys::Event::kAppeared);
  keys.Confirmed(1, true, true, DeviceState{7, 0x4321, true}, {});
  keys.Flush(names, StateImageTexts());
  EXPECT_EQ(images(), 1);
  keys.Settings("K", "a", ShowingState(7, {1, 2, 3, 4}), 1, false, Keys::Event::kChanged);
  keys.Flush(names, StateImageTexts());
  EXPECT_EQ(images(), 0) << "the same image was sent again";
  keys.Settings("K", "a", ShowingState(7, {1, 2, 3, 4}), 1, false, Keys::Event::kAppeared);
  keys.Flush(names, StateImageTexts());
  EXPECT_EQ(images(), 1) << "a key that appears again shows the host's image until it is sent one";
  keys.Confirmed(1, false, false, DeviceState{}, {});
  keys.Flush(names, StateImageTexts());
  EXPECT_EQ(images(), 1) << "the device went away";
}

}  // namespace

TEST(LayoutNames, PlacesAreReadOnlyWhenEveryOneIsARectangleInsideThePicture) {
  const struct {
    const char* places;
    size_t count;
  } cases[] = {
      {R"([[0, 0, 0.5, 0.5], [0.5, 0, 0.5, 0.5], [0, 0.5, 0.5, 0.5], [0.5, 0.5, 0.5, 0.5]])", 4},
      {R"([[0, 0, 1, 1]])", 1},
      {R"([[0, 0, 1, 1], [0.5, 0.5, 0.6, 0.5]])", 0},  // beyond the right edge
      {R"([[0, 0, 0, 1]])", 0},                        // no area
      {R"([[0, 0, "1", 1]])", 0},
      {R"([[0, 0, 1]])", 0},
      {R"([[0,0,1,1],[0,0,1,1],[0,0,1,1],[0,0,1,1],[0,0,1,1]])", 0},  // more places than a device has
      {R"([])", 0},
      {R"({"x": 0})", 0},
  };
  for (const auto& c : cases) {
    LayoutNames names;
    names.Load(nlohmann::json::parse(std::string(R"({"layouts": [{"number": 5, "name": "n", "places": )") +
                                     c.places + "}]}"),
               nlohmann::json());
    EXPECT_EQ(names.Places(5).size(), c.count) << c.places;
    EXPECT_EQ(names.Name(5), "n") << "a layout with unreadable places keeps its name";
    EXPECT_TRUE(names.Places(6).empty());
  }
}
