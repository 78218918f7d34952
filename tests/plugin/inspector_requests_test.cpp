// What the property inspector asks of the real executable beyond editing: signal changes while it is open, a key
// image taken away, and host numbers that do not fit. (Stopping and asking again for the images, and that no
// report reaches a closed inspector, are the model test's invariants.)
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

class InspectorRequests : public PluginProcessFixture {
 protected:
  static bool IsSignalReport(const json& m) {
    return m.value("event", "") == "sendToPropertyInspector" && m.contains("payload") &&
           m["payload"].contains("inputSignals");
  }
  static std::string ReportText(const json& m) {
    EXPECT_EQ(m.value("context", ""), "K");
    const json& report = m["payload"]["inputSignals"];
    return report["device"].get<std::string>() + " " + report["signals"].dump();
  }
  // Every "inputSignals" report until the one that reads last (a generous limit: the check runs once a
  // second), as "device [signals]" texts; empty when it never came.
  std::vector<std::string> ReportsUntil(const std::string& last) {
    std::vector<std::string> reports;
    const json found = m_host.WaitFor([&](const json& m) {
      if (!IsSignalReport(m)) return false;
      reports.push_back(ReportText(m));
      return reports.back() == last;
    }, 15s);
    if (found.is_null()) return {};
    return reports;
  }
};

// Signal changes reach the open inspector that asked for the device status: the first look reports every device,
// later ones only what changed.
TEST_F(InspectorRequests, SignalReportsStartWithEveryDeviceThenOnlyChanges) {
  Start(R"({"devices": [{"signal": [true, false, true, true]}, {"number": 2}]})", {"{}"});
  m_host.Send(WithSettings("willAppear", "K", json::object()));
  ASSERT_TRUE(m_host.WaitForEvent("setSettings").is_object());

  Control(R"({"signal": {"1": [false, false, false, false]}})");
  m_host.Send(Event("propertyInspectorDidAppear", "K"));
  m_host.Send(Event("sendToPlugin", "K", json{{"method", "getDeviceStatus"}}));
  EXPECT_EQ(ReportsUntil("Brelvon 2 [true,true,true,true]"),
            (std::vector<std::string>{"Brelvon [false,false,false,false]", "Brelvon 2 [true,true,true,true]"}));

  // Each change is reported alone, and the looks in between report nothing: the next change's report is the
  // first one after it.
  Control(R"({"signal": {"1": [true, false, false, false]}})");
  EXPECT_EQ(ReportsUntil("Brelvon [true,false,false,false]"),
            std::vector<std::string>{"Brelvon [true,false,false,false]"});
  Control(R"({"signal": {"1": [true, false, false, false], "2": [false, true, true, true]}})");
  EXPECT_EQ(ReportsUntil("Brelvon 2 [false,true,true,true]"),
            std::vector<std::string>{"Brelvon 2 [false,true,true,true]"});

}

// A key image that goes away gives the key its default image back, or its drawn state where that is on; a
// key that never had an image gets nothing new.
TEST_F(InspectorRequests, RemovingTheKeyImageGivesTheDefaultBack) {
  Start("");
  const std::string icon = "data:image/png;base64,QQ==";
  const auto imagesAfter = [&](const json& message) {
    m_host.TakeAll();
    m_host.Send(message);
    std::vector<json> arrived;
    Handled(&arrived);
    std::vector<std::string> images;
    for (const json& m : arrived) {
      if (m.value("event", "") != "setImage") continue;
      // A drawn key may be drawn twice in one step (its settings, then the device's change); once is enough.
      const std::string image = m["payload"]["image"].get<std::string>().substr(0, 26);
      if (images.empty() || images.back() != image) images.push_back(image);
    }
    return images;
  };
  m_host.Send(Event("propertyInspectorDidAppear", "K"));
  struct Step {
    const char* name;
    json message;
    std::vector<std::string> images;  // the first 26 characters of each "setImage"
  };
  const Step steps[] = {
      {"never had one", WithSettings("didReceiveSettings", "K", json{{"icon", ""}}), {}},
      {"chosen", WithSettings("didReceiveSettings", "K", json{{"icon", icon}}), {icon.substr(0, 26)}},
      {"removed", WithSettings("didReceiveSettings", "K", json{{"icon", ""}}), {""}},
      {"chosen on appear", WithSettings("willAppear", "K", json{{"icon", icon}}), {icon.substr(0, 26)}},
      {"setting left out", WithSettings("didReceiveSettings", "K", json::object()), {""}},
      {"chosen again", WithSettings("didReceiveSettings", "K", json{{"icon", icon}}), {icon.substr(0, 26)}},
      {"removed with the state on", WithSettings("didReceiveSettings", "K", json{{"icon", ""}, {"showState", true}}),
       {"data:image/svg+xml;base64,"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    EXPECT_EQ(imagesAfter(step.message), step.images);
  }
}

// Numbers beyond what the device takes saturate instead of wrapping onto another valid value, and the settings
// written back show what the device got; in-range values go through unchanged.
TEST_F(InspectorRequests, OutOfRangeNumbersSaturateAndTheSettingsShowWhatTheDeviceGot) {
  Start("");
  struct Case {
    const char* name;
    json entry;
    std::vector<std::pair<int, std::string>> sets;
    json storedLayout;   // in the written-back settings
    json storedSources;
  };
  const Case cases[] = {
      {"layout beyond 32 bits", {{"multiViewLayout", 4294967297ull}, {"multiViewSources", {1, 2, 3, 4}}},
       {{631, "ffffffff"}, {632, "2143000000000000"}}, 4294967295u, json::array({1, 2, 3, 4})},
      {"sources beyond 32 bits", {{"multiViewLayout", 0}, {"multiViewSources", {4294967298ll, -4294967295ll, 2, 3}}},
       {{631, "00000000"}, {632, "1432000000000000"}}, 0, json::array({4, 1, 2, 3})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t mark = TraceSize();
    const json reply = SettingsAfter(WithSettings("keyUp", "K", json{{"devices", {c.entry}}}));
    ASSERT_TRUE(reply.is_object());
    EXPECT_EQ(reply["payload"]["devices"][0]["multiViewLayout"], c.storedLayout);
    EXPECT_EQ(reply["payload"]["devices"][0]["multiViewSources"], c.storedSources);
    EXPECT_EQ(SetsSince(mark), c.sets);
  }
}

}  // namespace
