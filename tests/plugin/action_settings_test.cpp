// Reading, completing and writing the key settings object, and the toggle step.
#include "plugin/action_settings.h"

#include <gtest/gtest.h>

#include <limits>

using nlohmann::json;

namespace {

DeviceSnapshot TwoDevices() {
  DeviceSnapshot devices;
  devices.detected = {true, true};
  devices.inputCounts = {4, 4};
  devices.inputSignals = {{true, true, false, true}, {false, false, false, false}};
  return devices;
}

TEST(ActionSettings, NoDeviceWritesNothingToSend) {
  ActionSettings read;
  // The stored entries of absent devices alone are nothing to send either.
  CompleteActionSettings(json{{"currentDevice", "Brelvon"}, {"icon", "x"}, {"devices", {{{"multiViewLayout", 3}}}}},
                         DeviceSnapshot{}, read);
  json out;
  EXPECT_FALSE(WriteActionSettings(read, out));
  EXPECT_EQ(out, (json{{"currentDevice", "Brelvon"}, {"icon", "x"}}));
}

TEST(ActionSettings, ValuesOfOtherTypesFallBackToDefaults) {
  struct Case {
    const char* entry;
    uint32_t layout;
    bool toggle;
    std::vector<int32_t> sources;
  };
  const Case cases[] = {
      {R"({"multiViewLayout": -1})", 100, false, {1, 2, 3, 4}},
      {R"({"multiViewLayout": 2e0})", 100, false, {1, 2, 3, 4}},
      {R"({"multiViewLayout": "3"})", 100, false, {1, 2, 3, 4}},
      // Integers beyond the range saturate instead of wrapping onto another valid value.
      {R"({"multiViewLayout": 4294967297})", 4294967295u, false, {1, 2, 3, 4}},
      {R"({"multiViewLayout": 0, "toggle": 1})", 0, false, {1, 2, 3, 4}},
      {R"({"toggle": true, "multiViewSources": 5})", 100, true, {1, 2, 3, 4}},
      {R"({"multiViewSources": [1, 2.9, true, false]})", 100, false, {1, 2, 1, 0}},
      {R"({"multiViewSources": [-2.7, 4294967298, -4294967295, 2147483648]})", 100, false,
       {-2, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(),
        std::numeric_limits<int32_t>::max()}},
      {R"({"multiViewSources": [1e20, -1e300, 2147483647.5, -2147483648.9]})", 100, false,
       {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(),
        std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}},
      {R"({"multiViewSources": []})", 100, false, {}},
      {R"("not an object")", 100, false, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    json settings = {{"devices", json::array({json::parse(c.entry)})}};
    ActionSettings read;
    CompleteActionSettings(settings, TwoDevices(), read);
    ASSERT_EQ(read.devices.size(), 2u);
    EXPECT_EQ(read.devices[0].multiViewLayout, c.layout);
    EXPECT_EQ(read.devices[0].toggle, c.toggle);
    EXPECT_EQ(read.devices[0].multiViewSources, c.sources);
  }
}

TEST(ActionSettings, NonFiniteSourcesHaveDefinedValues) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(SourceNumberFromJson(json(std::numeric_limits<double>::quiet_NaN())), 0);
  EXPECT_EQ(SourceNumberFromJson(json(kInfinity)), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(SourceNumberFromJson(json(-kInfinity)), std::numeric_limits<int32_t>::min());
}

TEST(ActionSettings, SourcesThatAreNotNumbersReadAsTheirPlace) {
  const struct {
    const char* sources;
    std::vector<int32_t> read;
  } cases[] = {
      {R"([1, "2"])", {1, 2}},
      {"[null]", {1}},
      {R"([4, {}, [], 1, "x", 2])", {4, 2, 3, 1, 2}},  // beyond the fourth place, only numbers count
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sources);
    json settings = {{"devices", json::array({json{{"multiViewSources", json::parse(c.sources)}}})}};
    ActionSettings read;
    CompleteActionSettings(settings, TwoDevices(), read);
    EXPECT_EQ(read.devices[0].multiViewSources, c.read);
    EXPECT_EQ(ReadStoredEntry(settings["devices"][0]).multiViewSources, c.read);
  }
}

TEST(ActionSettings, AFewInputsDeviceKeepsWhatItShowsInThePlacesBeyondThem) {
  const struct {
    int32_t inputs;
    std::vector<int32_t> shown;
    std::vector<int32_t> sources;
  } cases[] = {
      {2, {3, 1, 3, 4}, {1, 2, 3, 4}},  // places 1 and 2 start at their own inputs, 3 and 4 as shown
      {3, {2, 2, 2, 1}, {1, 2, 3, 1}},
      {2, {}, {1, 2, 2, 2}},            // not read: the last input
      {4, {4, 4, 4, 4}, {1, 2, 3, 4}},  // four inputs: never taken from the device
  };
  for (const auto& c : cases) {
    DeviceSnapshot devices;
    devices.detected = {true};
    devices.inputCounts = {c.inputs};
    devices.shownSources = {c.shown};
    ActionSettings read;
    CompleteActionSettings(json::object(), devices, read);
    EXPECT_EQ(read.devices[0].multiViewSources, c.sources) << c.inputs;
    EXPECT_FALSE(EntryHoldsSources(json::object(), 0));
  }
  EXPECT_TRUE(EntryHoldsSources(json{{"devices", {{{"multiViewSources", json::array()}}}}}, 0));
  EXPECT_FALSE(EntryHoldsSources(json{{"devices", {{{"multiViewSources", 5}}}}}, 0));
}

TEST(ActionSettings, DeviceWithoutCountsOrSignalsGetsEmptyLists) {
  DeviceSnapshot odd;
  odd.detected = {true, true};
  odd.inputCounts = {3};
  odd.inputSignals = {{true, true, true}};
  ActionSettings read;
  CompleteActionSettings(json::object(), odd, read);
  ASSERT_EQ(read.devices.size(), 2u);
  // Three inputs fill the four places with inputs the device has.
  EXPECT_EQ(read.devices[0].multiViewSources, (std::vector<int32_t>{1, 2, 3, 3}));
  EXPECT_TRUE(read.devices[1].multiViewSources.empty());
  EXPECT_TRUE(read.devices[1].inputHasSignal.empty());
  EXPECT_EQ(read.devices[1].deviceName, "Brelvon 2");
}

TEST(ActionSettings, SourcesAreFittedToTheInputsADeviceHas) {
  const struct {
    std::vector<int32_t> sources;
    int32_t inputs;
    std::vector<int32_t> fitted;
  } cases[] = {
      {{0, 16, -1, 4}, 4, {1, 4, 1, 4}},
      {{4, 3, 2, 1, 9}, 3, {3, 3, 2, 1, 9}},  // beyond the four places nothing reaches the device
      {{5, 0, 1, 2}, 0, {5, 0, 1, 2}},        // no input count: left alone
  };
  for (const auto& c : cases) {
    std::vector<int32_t> sources = c.sources;
    FitSourcesToInputs(sources, c.inputs);
    EXPECT_EQ(sources, c.fitted) << c.inputs;
  }
}

TEST(ToggleStep, AdvancesToNextInputWithSignal) {
  struct Case {
    std::vector<int32_t> sources;
    std::vector<bool> signal;
    int32_t inputs;
    int32_t first;  // expected first source afterwards
  };
  const std::vector<bool> oneAndFour = {true, false, false, true};
  const Case cases[] = {
      // The usual sequence (2 -> 4 -> 1 -> 4) runs end to end as key presses.
      {{4, 2, 3, 4}, oneAndFour, 4, 1},
      {{5, 3, 3, 3}, oneAndFour, 4, 5},                    // beyond the inputs: unchanged
      {{2, 3, 3, 3}, {false, true, false, false}, 4, 2},   // lone signal: a full cycle back to itself
      {{3, 3, 3, 3}, {false, false, false, false}, 4, 3},  // no signal: unchanged
      {{0, 1, 1, 1}, {}, 0, 0},              // no inputs
      {{2, 1, 1, 1}, {false, false}, 4, 2},  // flags shorter than the inputs
  };
  for (const Case& c : cases) {
    DeviceSettings entry;
    entry.multiViewSources = c.sources;
    entry.inputHasSignal = c.signal;
    ToggleFirstSource(entry, c.inputs);
    EXPECT_EQ(entry.multiViewSources[0], c.first) << "from " << c.sources[0];
    EXPECT_TRUE(std::equal(c.sources.begin() + 1, c.sources.end(), entry.multiViewSources.begin() + 1));
  }
  DeviceSettings empty;
  empty.inputHasSignal = {true};
  ToggleFirstSource(empty, 4);
  EXPECT_TRUE(empty.multiViewSources.empty());
}

TEST(InputNames, HostileNamesStayShortPlainText) {
  const std::string tenThousand(10000, 'x');
  std::string accents;
  for (int i = 0; i < 40; ++i) accents += "\xC3\xA9";  // é, two bytes each
  const struct {
    const char* name;
    std::string text;
    std::string clean;
  } cases[] = {
      {"markup stays text (escaped where drawn)", "<b>&amp;\"x\"</b>", "<b>&amp;\"x\"</b>"},
      {"NUL and control characters go", std::string("Ca\0m\t\x1b\x7f", 8) + "\xC2\x85" + "1", "Cam1"},
      {"bidirectional controls go", "\xE2\x80\xAE" "Desk\xE2\x81\xA6" "A\xE2\x80\x8F", "DeskA"},
      {"cut to 32 characters", tenThousand, std::string(32, 'x')},
      {"cut by characters, not bytes", accents, accents.substr(0, 64)},
      {"bytes that are no UTF-8 go", "A\xFF\xC3(\xED\xA0\x80" "B\xF0\x9F\x8E\xA5", "A(B\xF0\x9F\x8E\xA5"},
  };
  for (const auto& c : cases) EXPECT_EQ(CleanInputName(c.text), c.clean) << c.name;
}

TEST(InputNames, ReadFromTheEntryAndWrittenBackOnlyWhereTheyWere) {
  const struct {
    const char* entry;
    bool has;
    std::vector<std::string> names;
    uint64_t stamp;
  } cases[] = {
      {R"({})", false, {}, 0},
      {R"({"inputNames": "Cam"})", false, {}, 0},
      {R"({"inputNames": ["Cam", 7, null, "Desk", "Fifth"], "inputNamesStamp": 3})", true, {"Cam", "", "", "Desk"}, 3},
      {R"({"inputNames": [], "inputNamesStamp": -2})", true, {}, 0},
      {R"({"inputNames": ["A"], "inputNamesStamp": "9"})", true, {"A"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    ActionSettings read;
    CompleteActionSettings(json{{"devices", json::array({json::parse(c.entry)})}}, TwoDevices(), read);
    const InputNames& names = read.devices[0].inputNames;
    EXPECT_EQ(names.has, c.has);
    EXPECT_EQ(names.names, c.names);
    EXPECT_EQ(names.stamp, c.stamp);
    json out;
    WriteActionSettings(read, out);
    EXPECT_EQ(out["devices"][0].contains("inputNames"), c.has);
    EXPECT_FALSE(out["devices"][1].contains("inputNames"));
  }
}

TEST(Steps, WrongTypedStepsAreDroppedAndTheStepCountsInWhatIsWrittenBack) {
  const json good = {{"multiViewLayout", 0}, {"multiViewSources", {4, 3, 2, 9}}};
  const struct {
    json steps;
    json step;
    size_t count;
    size_t index;
  } cases[] = {
      {json::array({good, good}), 1, 2, 1},
      {json::array({good, good}), 2, 2, 0},  // beyond the steps
      {json::array({good}), -1, 1, 0},
      {json::array({good, good}), "1", 2, 0},
      {json::array({"x", 5, json::object(), {{"multiViewSources", {1, 2, 3}}},
                    {{"multiViewSources", {1, "2", 3, 4}}}, good}), 0, 1, 0},
      {json::array({good, good, good, good, good, good, good, good, good, good}), 9, 8, 0},
      {json::array(), 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps.dump() + " step " + c.step.dump());
    ActionSettings read;
    CompleteActionSettings(json{{"devices", json::array({json{{"steps", c.steps}, {"step", c.step}}})}}, TwoDevices(),
                           read);
    const DeviceSettings& entry = read.devices[0];
    ASSERT_EQ(entry.steps.size(), c.count);
    EXPECT_EQ(entry.step, c.index);
    // Every step reaches the device with inputs it has.
    for (const StepState& step : entry.steps) EXPECT_EQ(step.multiViewSources, (std::vector<int32_t>{4, 3, 2, 4}));
    json out;
    WriteActionSettings(read, out);
    EXPECT_EQ(out["devices"][0]["steps"].size(), c.count);
    if (c.count > 0) {
      EXPECT_EQ(out["devices"][0]["step"], c.index);
    }
  }
}

}  // namespace

TEST(ActionSettings, PictureMembersAreWrittenBackAsTheyCame) {
  for (const char* picture : {R"({"keyPicture": "live", "pictureRate": 5})", R"({"keyPicture": 7})", "{}"}) {
    SCOPED_TRACE(picture);
    json settings = json::parse(picture);
    ActionSettings read;
    CompleteActionSettings(settings, TwoDevices(), read);
    json out;
    ASSERT_TRUE(WriteActionSettings(read, out));
    for (const auto& member : settings.items()) EXPECT_EQ(out[member.key()], member.value());
    EXPECT_EQ(out.contains("keyPicture"), settings.contains("keyPicture"));
    EXPECT_EQ(out.contains("pictureRate"), settings.contains("pictureRate"));
  }
}
