// Devices that come and go while the real executable runs, driven through the emulator's control file; and
// the diagnostic log switched on with qvtrace.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const char kTwoDevices[] = R"({"devices": [{}, {"number": 2}]})";

json Press(const std::string& event, const std::string& context, const std::string& device) {
  return WithSettings(event, context, json{{"currentDevice", device}});
}

class DeviceChanges : public PluginProcessFixture {
 protected:
  // The file change can reach the plug-in before an event sent earlier: an answered event orders them.
  void EventsHandled() {
    m_host.Send(Press("willAppear", "ORDER", "Brelvon"));
    ASSERT_TRUE(m_host.WaitForEvent("setSettings").is_object());
  }

  // Presses the key naming device until the device receives a layout write, each press handled before its
  // trace is read; the time it took.
  std::chrono::milliseconds PressUntilAnswered(const std::string& device, const std::string& node,
                                               std::chrono::milliseconds limit = 10s) {
    const auto start = PluginTestHost::Clock::now();
    const size_t mark = TraceSize();
    while (PluginTestHost::Clock::now() - start < limit) {
      m_host.Send(Press("keyUp", "K", device));
      Handled();
      if (!TraceOf(node, "set", mark).empty()) break;
      std::this_thread::sleep_for(50ms);  // the poll's interval; the look is at most once a second anyway
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(PluginTestHost::Clock::now() - start);
  }

  bool ImagesArrive() {
    m_host.TakeAll();
    return m_host.WaitFor(IsImage).is_object();
  }
};

// Without any notification: the press that names the missing device looks for it (at most once a second).
TEST_F(DeviceChanges, DevicePluggedAfterStartAnswersAPressThatNamesIt) {
  Start(kTwoDevices, {R"({"unplugged": [2]})", true});
  json reply = (m_host.Send(Press("willAppear", "K", "Brelvon 2")),
                m_host.WaitForEvent("setSettings"));
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply["payload"]["devices"].size(), 1u);
  EXPECT_TRUE(TraceOf(kNode2, "set", 0).empty());

  Control(R"({"unplugged": []})");
  const auto took = PressUntilAnswered("Brelvon 2", kNode2);
  std::printf("[ figure ] plugged device answers a press (no notification) after %lld ms\n",
              static_cast<long long>(took.count()));
  EXPECT_FALSE(TraceOf(kNode2, "set", 0).empty());
  // Once found, the press goes through the normal path: layout, post-layout read, sources.
  reply = (m_host.Send(Press("keyUp", "K", "Brelvon 2")), m_host.WaitForEvent("setSettings"));
  EXPECT_EQ(reply["payload"]["devices"].size(), 2u);
}

// While idle, a press with the device away and the presses once it is back are the model test's.
TEST_F(DeviceChanges, UnplugAndReplugWhilePreviewing) {
  Start(kTwoDevices, {"{}"});
  // The stream ends when the device goes, and the preview comes back with it.
  m_host.Send(Press("willAppear", "K", "Brelvon"));
  m_host.Send(Event("propertyInspectorDidAppear", "K"));
  m_host.Send(Event("sendToPlugin", "K", json{{"method", "startSendingImages"}}));
  ASSERT_TRUE(ImagesArrive());
  size_t mark = TraceSize();
  Control(R"({"unplugged": [1]})");
  EXPECT_TRUE(PreviewStopsAfter(mark));
  // Images queued before the stop leave after it (the stop holds the event loop): the answer comes after them.
  EventsHandled();
  m_host.TakeAll();
  for (const json& m : ArrivedUntilHandled()) EXPECT_FALSE(IsImage(m));
  Control("{}");
  EXPECT_TRUE(ImagesArrive());
}

// The inspector's device status once asked: answered byte for byte, then sent again at every change. (That
// nothing reaches an inspector that did not ask or has closed is the model test's invariant.)
TEST_F(DeviceChanges, DeviceStatusAnswersAndFollowsChanges) {
  Start(kTwoDevices, {"{}"});
  m_host.Send(Press("willAppear", "K", "Brelvon"));
  m_host.Send(Event("propertyInspectorDidAppear", "K"));
  const auto isStatus = [](const json& m) {
    return m.value("event", "") == "sendToPropertyInspector" && m.contains("payload") &&
           m["payload"].contains("deviceStatus") && m.value("context", "") == "K";
  };
  // The next status message to K; every other one to K before it goes to skipped. Signal reports pass by.
  std::vector<json> skipped;
  const auto statusArrives = [&](const json& detected) {
    const json::json_pointer path("/payload/deviceStatus/detected");
    return m_host
        .WaitFor([&](const json& m) {
          if (!isStatus(m)) return false;
          if (m.at(path) == detected) return true;
          skipped.push_back(m);
          return false;
        })
        .is_object();
  };
  m_host.Send(Event("sendToPlugin", "K", json{{"method", "getDeviceStatus"}}));
  EXPECT_EQ(m_host.WaitForText(isStatus),
            R"({"action":"com.brelvon.multiview.switch","context":"K",)"
            R"("event":"sendToPropertyInspector",)"
            R"("payload":{"deviceStatus":{"detected":["Brelvon","Brelvon 2"]}}})");
  Control(R"({"unplugged": [1]})");
  EXPECT_TRUE(statusArrives({"Brelvon 2"}));
  Control("{}");
  EXPECT_TRUE(statusArrives({"Brelvon", "Brelvon 2"}));
  EXPECT_EQ(skipped, std::vector<json>{}) << "a status message K was not to get";
}

// The diagnostic log: nothing until qvtrace switches it on, then one line per event and device operation.
TEST_F(DeviceChanges, LogLinesAfterQvtraceSet) {
  Start(kTwoDevices, {"{}"});
  const std::string log = TempPath("plugin-log.txt");
  m_host.Send(Press("keyUp", "BEFORE", "Brelvon"));
  m_host.WaitForEvent("setSettings");
  const std::string command = std::string(PNX_QVTRACE_EXECUTABLE) + " set --pid " + std::to_string(m_host.Pid()) +
                              " --output logfile --logfile " + log + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  // A thread that last saw its record let nothing through does not wait for a trace mutex another process
  // holds (other tests' plug-ins trace too): the press is repeated until its lines are in the log.
  ASSERT_TRUE(WaitUntil([&] {
    m_host.Send(Press("keyUp", "AFTER", "Brelvon"));
    m_host.WaitForEvent("setSettings");
    return ReadFile(log).find("set 632") != std::string::npos;
  }));
  const std::string text = ReadFile(log);
  EXPECT_EQ(text.find("BEFORE"), std::string::npos);
  for (const char* expected : {"MSG  keyUp AFTER", "device 0: set 631: 0x00000000", "device 0: get 25: 0x00000000",
                               "device 0: set 632: 0x00000000"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
}

}  // namespace
