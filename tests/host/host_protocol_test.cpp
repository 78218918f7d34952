// Incoming dispatch and outgoing message texts, without a socket.
#include "host/host_protocol.h"

#include <gtest/gtest.h>

#include "host/json_members.h"
#include "tests/host/recording_plugin.h"

namespace {

struct DispatchCase {
  const char* name;
  std::string message;
  std::vector<std::string> expected;
};

std::string Nested(const char* open, const char* close, size_t depth, const std::string& inner = "1") {
  std::string text;
  for (size_t i = 0; i < depth; ++i) text += open;
  text += inner;
  for (size_t i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(DispatchHostMessage, CallsExactlyTheOperationOfTheEventWithItsArguments) {
  const std::string all = R"("action":"a.b","context":"C1","device":"D1","payload":{"k":[1,"x"]})";
  const std::string p = R"({"k":[1,"x"]})";
  const auto full = [&](const char* event) { return std::string("{\"event\":\"") + event + "\"," + all + "}"; };
  std::vector<DispatchCase> cases = {
      {"deviceDidConnect", R"({"event":"deviceDidConnect","device":"D1","deviceInfo":{"type":7},"payload":{}})",
       {"OnDeviceDidConnect|D1|{\"type\":7}"}},
      {"deviceDidDisconnect", full("deviceDidDisconnect"), {"OnDeviceDidDisconnect|D1"}},
      {"applicationDidLaunch", full("applicationDidLaunch"), {"OnApplicationDidLaunch|" + p}},
      {"applicationDidTerminate", full("applicationDidTerminate"), {"OnApplicationDidTerminate|" + p}},
      {"propertyInspectorDidAppear", full("propertyInspectorDidAppear"), {"OnPropertyInspectorDidAppear|a.b|C1|D1"}},
      {"propertyInspectorDidDisappear", full("propertyInspectorDidDisappear"),
       {"OnPropertyInspectorDidDisappear|a.b|C1|D1"}},
      // Defaults for what is missing or of another type.
      {"no payload", R"({"event":"keyDown","action":"a","context":"c","device":"d"})",
       {"OnKeyDown|a|c|null|d"}},
      {"deviceInfo not an object", R"({"event":"deviceDidConnect","deviceInfo":[1]})",
       {"OnDeviceDidConnect||null"}},
      {"no device", R"({"event":"willAppear","context":"c","payload":{}})", {"OnWillAppear||c|{}|"}},
      {"strings of other types", R"({"event":"keyUp","action":1,"context":null,"device":{"a":1},"payload":{}})",
       {"OnKeyUp|||{}|"}},
      {"unicode kept", "{\"event\":\"keyUp\",\"context\":\"K\xc3\xa4se \\u00e9\",\"payload\":{}}",
       {"OnKeyUp||K\xc3\xa4se \xc3\xa9|{}|"}},
      // Ignored: nothing is called.
      {"other case", R"({"event":"KeyDown","payload":{}})", {}},
      {"unknown event", R"({"event":"keyPressed"})", {}},
      {"event not a string", R"({"event":["keyDown"]})", {}},
      {"array", R"([{"event":"keyDown"}])", {}},
      {"not JSON", "keyDown", {}},
      {"invalid UTF-8 bytes", "{\"event\":\"keyDown\",\"context\":\"\xff\xfe\"}", {}},
      {"two documents", R"({"event":"keyDown"} {"event":"keyUp"})", {}},
      {"NUL then text that is not JSON", std::string(R"({"event":"keyDown"})") + '\0' + "garbage", {}},
      {"NUL at the end", std::string(R"({"event":"keyDown"})") + '\0', {}},
      {"nesting at the limit", R"({"event":"keyDown","payload":)" + Nested("{\"a\":", "}", kMaxJsonNesting - 1) + "}",
       {"OnKeyDown|||" + Nested("{\"a\":", "}", kMaxJsonNesting - 1) + "|"}},
      {"one level past the limit", R"({"event":"keyDown","payload":)" + Nested("{\"a\":", "}", kMaxJsonNesting) + "}",
       {}},
  };
  const std::pair<const char*, const char*> fullEvents[] = {
      {"keyDown", "OnKeyDown"},           {"keyUp", "OnKeyUp"},           {"willAppear", "OnWillAppear"},
      {"willDisappear", "OnWillDisappear"}, {"sendToPlugin", "OnSendToPlugin"},
      {"didReceiveSettings", "OnDidReceiveSettings"}};
  for (const auto& [event, call] : fullEvents) {
    cases.push_back({event, full(event), {std::string(call) + "|a.b|C1|" + p + "|D1"}});
  }
  for (const DispatchCase& c : cases) {
    RecordingPlugin plugin;
    DispatchHostMessage(c.message, plugin);
    EXPECT_EQ(plugin.Calls(), c.expected) << c.name;
  }
}

TEST(DispatchHostMessage, SwallowsWhatTheOperationThrowsAndGoesOn) {
  RecordingPlugin plugin;
  plugin.onCall = [](const std::string& call) {
    if (call.rfind("OnKeyDown", 0) == 0) throw nlohmann::json::type_error::create(302, "boom", nullptr);
    if (call.rfind("OnKeyUp", 0) == 0) throw std::out_of_range("boom");
  };
  DispatchHostMessage(R"({"event":"keyDown"})", plugin);
  DispatchHostMessage(R"({"event":"keyUp"})", plugin);
  DispatchHostMessage(R"({"event":"willAppear"})", plugin);
  EXPECT_EQ(plugin.Calls(), (std::vector<std::string>{"OnKeyDown|||null|", "OnKeyUp|||null|",
                                                      "OnWillAppear|||null|"}));
}

TEST(JsonMembers, NestingCountsBracketsOutsideStrings) {
  const struct {
    std::string text;
    int max;
    bool within;
  } cases[] = {
      {"{\"a\":{\"b\":[]}}", 2, false},
      {R"(["[[[[", "\"[[[["])", 1, true},
      {R"(["\\", [[]]])", 2, false},
      {"not json {{{", 2, false},
      {"", 0, true},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonNestingWithin(c.text, c.max), c.within) << c.text;
}

// The library's own serialisation of the equivalent object is the reference for every outgoing text.
TEST(OutgoingMessages, AreByteForByteTheLibrarysCompactSortedText) {
  const std::vector<std::string> strings = {
      "", "ctx-1", "K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x8e\xa5", "quote\" backslash\\ slash/ tab\t nl\n \x01 \x7f",
      std::string(1, '\0') + "nul",
  };
  const nlohmann::json payloads[] = {
      nlohmann::json::object(),
      {{"settings", {{"devices", {{{"multiViewLayout", 100}, {"toggle", true}}}}, {"currentDevice", "Brelvon"}}}},
      nlohmann::json::array({1, 2.5, -3, nullptr, "x"}),
      {{"imageData", std::vector<int>{66, 77, 0, 255}}, {"z", 1}, {"a", {{"b", 1}}}},
  };
  for (const std::string& a : strings) {
    for (const std::string& b : strings) {
      EXPECT_EQ(BuildRegistrationMessage(a, b), nlohmann::json({{"event", a}, {"uuid", b}}).dump());
      EXPECT_EQ(BuildSetImageMessage(a, b),
                nlohmann::json({{"event", "setImage"}, {"context", b}, {"payload", {{"target", 0}, {"image", a}}}})
                    .dump());
      for (const nlohmann::json& p : payloads) {
        EXPECT_EQ(BuildSetSettingsMessage(p, b),
                  nlohmann::json({{"event", "setSettings"}, {"context", b}, {"payload", p}}).dump());
        const std::string expected =
            nlohmann::json({{"event", "sendToPropertyInspector"}, {"context", b}, {"action", a}, {"payload", p}})
                .dump();
        EXPECT_EQ(BuildSendToPropertyInspectorMessage(a, b, p), expected);
        EXPECT_EQ(BuildSendToPropertyInspectorMessageFromText(a, b, p.dump()), expected);
      }
    }
  }
}

}  // namespace
