// The web mode's relay between the plug-in, the open property inspector and the panel pages.
#include "tools/devhost/panel_relay.h"

#include <stdlib.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using ClientId = PanelRelay::ClientId;

constexpr ClientId kPlugin = 1, kPanel = 2, kInspector = 3, kStranger = 4;

class PanelRelayTest : public testing::Test {
 protected:
  PanelRelayTest() : m_store(TempFile()) {
    PanelRelay::Config config;
    config.port = 4321;
    config.pluginUUID = "PLUGIN-UUID";
    config.info = R"({"application":{"language":"de"}})";
    config.language = "de";
    config.pluginName = "Brelvon Multiview";
    config.action = "com.brelvon.multiview.switch";
    config.defaultImage = "/plugin/icons/key.svg";
    config.inspectorPage = "/plugin/inspector/index.html";
    config.actions = {{"com.brelvon.multiview.switch", "Switch multiview", "/plugin/icons/key.svg",
                       "/plugin/inspector/index.html"},
                      {"com.brelvon.multiview.peek", "Hold to look", "/plugin/icons/peek-key.svg",
                       "/plugin/inspector/index.html"}};
    config.token = "TOKEN+1";
    PanelRelay::Callbacks callbacks;
    callbacks.send = [this](ClientId id, const std::string& text) { m_sent.emplace_back(id, text); };
    callbacks.sendSkippable = [this](ClientId id, const std::string& text) {
      m_sent.emplace_back(id, text);
      m_skippable.push_back(text);
    };
    callbacks.close = [this](ClientId id) { m_closed.insert(id); };
    callbacks.warn = [](const std::string&) {};
    callbacks.newUUID = [this] { return "INSPECTOR-" + std::to_string(++m_uuidCount); };
    m_relay = std::make_unique<PanelRelay>(config, m_store, callbacks);
  }

  static std::string TempFile() {
    char base[] = "/tmp/pnx-relay-XXXXXX";
    return std::string(mkdtemp(base)) + "/settings.json";
  }

  // A client opens the first time it speaks; one with a page's Origin or the token, unless told otherwise.
  void Say(ClientId id, const json& message) {
    if (m_opened.insert(id).second) m_relay->OnOpen(id, true);
    m_relay->OnMessage(id, message.dump());
  }

  // The messages sent to one client since the last call, parsed.
  std::vector<json> To(ClientId id) {
    std::vector<json> result;
    for (const auto& [to, text] : m_sent) {
      if (to == id) result.push_back(json::parse(text));
    }
    m_sent.erase(std::remove_if(m_sent.begin(), m_sent.end(), [id](const auto& sent) { return sent.first == id; }),
                 m_sent.end());
    return result;
  }

  // Registers the plug-in and a panel, then opens the inspector for key and registers it.
  void OpenInspectorFor(int key) {
    Say(kPanel, {{"event", "openInspector"}, {"key", key}});
    Say(kInspector, {{"event", "registerPropertyInspector"}, {"uuid", "INSPECTOR-" + std::to_string(m_uuidCount)}});
  }

  void RegisterPluginAndPanel() {
    Say(kPlugin, {{"event", "registerPlugin"}, {"uuid", "PLUGIN-UUID"}});
    Say(kPanel, {{"event", "registerPanel"}});
    To(kPlugin);
    To(kPanel);
  }

  SettingsStore m_store;
  std::unique_ptr<PanelRelay> m_relay;
  std::vector<std::pair<ClientId, std::string>> m_sent;
  std::set<ClientId> m_closed;
  std::vector<std::string> m_skippable;  // what went through sendSkippable
  std::set<ClientId> m_opened;
  int m_uuidCount = 0;
};

TEST_F(PanelRelayTest, ClientsThatCannotIdentifyThemselvesAreClosed) {
  Say(kStranger, {{"event", "registerPlugin"}, {"uuid", "WRONG"}});
  Say(5, {{"event", "registerPropertyInspector"}, {"uuid", "INSPECTOR-1"}});  // none open
  m_relay->OnMessage(6, "not json");
  Say(7, {{"event", "keyDown"}, {"key", 1}});
  EXPECT_EQ(m_closed, (std::set<ClientId>{kStranger, 5, 6, 7}));
  EXPECT_TRUE(m_sent.empty());

  RegisterPluginAndPanel();
  Say(8, {{"event", "registerPlugin"}, {"uuid", "PLUGIN-UUID"}});  // a second plug-in
  EXPECT_EQ(m_closed.count(8), 1u);
}

TEST_F(PanelRelayTest, ClientWithoutTheTokenMayBeOnlyThePlugin) {
  for (ClientId id : {kPlugin, kStranger, kInspector}) {
    m_relay->OnOpen(id, false);
    m_opened.insert(id);
  }
  Say(kStranger, {{"event", "registerPanel"}});
  EXPECT_EQ(m_closed, std::set<ClientId>{kStranger});
  EXPECT_TRUE(m_sent.empty());  // not even the panel state

  Say(kPlugin, {{"event", "registerPlugin"}, {"uuid", "PLUGIN-UUID"}});
  EXPECT_EQ(To(kPlugin).size(), 15u);
  Say(kPanel, {{"event", "registerPanel"}});
  EXPECT_EQ(To(kPanel).at(0)["event"], "panelState");
  // The inspector's uuid is in every panel's state; without the token it still opens nothing.
  OpenInspectorFor(3);
  To(kPlugin);
  Say(kInspector, {{"event", "setSettings"}, {"context", "INSPECTOR-1"}, {"payload", {{"layout", 7}}}});
  EXPECT_EQ(m_closed, (std::set<ClientId>{kStranger, kInspector}));
  EXPECT_EQ(m_store.Get("key-3"), json::object());
  EXPECT_TRUE(To(kPlugin).empty());

  // The page's own connection, with the token from its address, takes the inspector's place.
  const std::string url = To(kPanel).back()["inspector"]["url"];
  EXPECT_EQ(url.substr(url.rfind('&')), "&token=TOKEN%2B1");
  Say(9, {{"event", "registerPropertyInspector"}, {"uuid", "INSPECTOR-1"}});
  Say(9, {{"event", "setSettings"}, {"context", "INSPECTOR-1"}, {"payload", {{"layout", 7}}}});
  EXPECT_EQ(m_store.Get("key-3"), (json{{"layout", 7}}));
  EXPECT_EQ(m_closed.count(9), 0u);
}

TEST_F(PanelRelayTest, OpeningAnotherInspectorClosesTheFirstAndRefusesItsUuid) {
  RegisterPluginAndPanel();
  OpenInspectorFor(2);
  std::vector<json> toPlugin = To(kPlugin);
  ASSERT_EQ(toPlugin.size(), 1u);
  EXPECT_EQ(toPlugin[0], (json{{"event", "propertyInspectorDidAppear"}, {"action", "com.brelvon.multiview.switch"},
                               {"context", "key-2"}, {"device", "panel-1"}}));

  Say(kPanel, {{"event", "openInspector"}, {"key", 9}});
  toPlugin = To(kPlugin);
  ASSERT_EQ(toPlugin.size(), 2u);
  EXPECT_EQ(toPlugin[0]["event"], "propertyInspectorDidDisappear");
  EXPECT_EQ(toPlugin[0]["context"], "key-2");
  EXPECT_EQ(toPlugin[1]["event"], "propertyInspectorDidAppear");
  EXPECT_EQ(toPlugin[1]["context"], "key-9");
  EXPECT_EQ(m_closed.count(kInspector), 1u);

  // The closed inspector's page cannot come back with its old uuid, nor act for the new key.
  Say(10, {{"event", "registerPropertyInspector"}, {"uuid", "INSPECTOR-1"}});
  EXPECT_EQ(m_closed.count(10), 1u);
  Say(kInspector, {{"event", "setSettings"}, {"context", "INSPECTOR-1"}, {"payload", {{"x", 1}}}});
  EXPECT_TRUE(To(kPlugin).empty());
  EXPECT_EQ(m_store.Get("key-2"), json::object());
  EXPECT_EQ(m_store.Get("key-9"), json::object());

  Say(kPanel, {{"event", "closeInspector"}});
  toPlugin = To(kPlugin);
  ASSERT_EQ(toPlugin.size(), 1u);
  EXPECT_EQ(toPlugin[0]["event"], "propertyInspectorDidDisappear");
  EXPECT_EQ(toPlugin[0]["context"], "key-9");
  EXPECT_TRUE(To(kPanel).back()["inspector"].is_null());
}

TEST_F(PanelRelayTest, SettingsAndMessagesTravelBetweenInspectorAndPluginByKey) {
  RegisterPluginAndPanel();
  OpenInspectorFor(4);
  To(kPlugin);
  To(kPanel);
  const json edited = {{"currentDevice", "Brelvon"}, {"devices", json::array()}};
  Say(kInspector, {{"event", "setSettings"}, {"context", "INSPECTOR-1"}, {"payload", edited}});
  Say(kInspector, {{"event", "sendToPlugin"}, {"action", "x"}, {"context", "INSPECTOR-1"},
                   {"payload", {{"method", "startSendingImages"}, {"imageWidth", 224}, {"imageHeight", 126}}}});
  Say(kInspector, {{"event", "setSettings"}, {"context", "key-4"}, {"payload", {{"wrong", "context"}}}});
  std::vector<json> toPlugin = To(kPlugin);
  ASSERT_EQ(toPlugin.size(), 2u);
  EXPECT_EQ(toPlugin[0]["event"], "didReceiveSettings");
  EXPECT_EQ(toPlugin[0]["context"], "key-4");
  EXPECT_EQ(toPlugin[0]["payload"]["settings"], edited);
  EXPECT_EQ(toPlugin[0]["payload"]["coordinates"], (json{{"column", 3}, {"row", 0}}));
  EXPECT_EQ(toPlugin[1], (json{{"event", "sendToPlugin"}, {"action", "com.brelvon.multiview.switch"},
                               {"context", "key-4"},
                               {"payload", {{"method", "startSendingImages"}, {"imageWidth", 224},
                                            {"imageHeight", 126}}}}));
  EXPECT_EQ(m_store.Get("key-4"), edited);

  // The plug-in's write-back reaches the inspector of that key only; its previews pass through unchanged, as
  // messages an inspector that is behind may miss; its other messages may not be missed.
  const json completed = {{"currentDevice", "Brelvon"}, {"devices", {{{"name", "Brelvon"}}}}};
  Say(kPlugin, {{"event", "setSettings"}, {"context", "key-4"}, {"payload", completed}});
  Say(kPlugin, {{"event", "setSettings"}, {"context", "key-5"}, {"payload", {{"other", 1}}}});
  const std::string preview = R"({"action":"com.brelvon.multiview.switch","context":"key-4",)"
                              R"("event":"sendToPropertyInspector","payload":{"imageData":[66,77,1.0]}})";
  m_relay->OnMessage(kPlugin, preview);
  m_relay->OnMessage(kPlugin, R"({"context":"key-5","event":"sendToPropertyInspector","payload":{}})");
  const std::string report = R"({"context":"key-4","event":"sendToPropertyInspector","payload":{"inputSignals":)"
                             R"({"device":"Brelvon","signals":[true],"imageData":[]}}})";
  m_relay->OnMessage(kPlugin, report);
  ASSERT_EQ(m_sent.size(), 3u);
  EXPECT_EQ(m_sent[1], (std::pair<ClientId, std::string>{kInspector, preview}));
  EXPECT_EQ(m_sent[2], (std::pair<ClientId, std::string>{kInspector, report}));
  EXPECT_EQ(m_skippable, std::vector<std::string>{preview});
  m_sent.pop_back();
  EXPECT_EQ(To(kInspector)[0], (json{{"event", "didReceiveSettings"}, {"action", "com.brelvon.multiview.switch"},
                                     {"context", "key-4"}, {"device", "panel-1"},
                                     {"payload", {{"settings", completed}}}}));
  EXPECT_EQ(m_store.Get("key-4"), completed);
  EXPECT_EQ(m_store.Get("key-5"), (json{{"other", 1}}));

  // A key press carries what is stored now.
  Say(kPanel, {{"event", "keyUp"}, {"key", 4}});
  Say(kPanel, {{"event", "keyUp"}, {"key", 16}});
  toPlugin = To(kPlugin);
  ASSERT_EQ(toPlugin.size(), 1u);
  EXPECT_EQ(toPlugin[0]["payload"]["settings"], completed);
}

TEST_F(PanelRelayTest, PanelStateFollowsImagesAndThePluginsConnection) {
  RegisterPluginAndPanel();
  Say(kPlugin, {{"event", "setImage"}, {"context", "key-15"}, {"payload", {{"image", "data:image/png;base64,AA"}}}});
  Say(kPlugin, {{"event", "setImage"}, {"context", "key-0"}, {"payload", {{"image", "x"}}}});
  std::vector<json> states = To(kPanel);
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(states[0]["keys"][14]["image"], "data:image/png;base64,AA");
  EXPECT_EQ(states[0]["keys"][0]["image"], "");
  EXPECT_EQ(states[0]["plugin"]["connected"], true);
  m_relay->OnClose(kPlugin);
  states = To(kPanel);
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(states[0]["plugin"]["connected"], false);
  // Key events with no plug-in connected go nowhere.
  Say(kPanel, {{"event", "keyDown"}, {"key", 1}});
  EXPECT_TRUE(m_sent.empty());
}

TEST_F(PanelRelayTest, AChosenActionReplacesTheKeysActionKeepsItsSettingsAndLastsAcrossARestart) {
  RegisterPluginAndPanel();
  std::string error;
  ASSERT_TRUE(m_store.Set("key-6", {{"currentDevice", "Brelvon 2"}}, error));
  Say(kPlugin, {{"event", "setImage"}, {"context", "key-6"}, {"payload", {{"image", "data:image/png;base64,AA"}}}});
  OpenInspectorFor(6);
  To(kPlugin);
  To(kPanel);

  // Unknown actions, the action it has and keys that do not exist change nothing.
  Say(kPanel, {{"event", "setAction"}, {"key", 6}, {"action", "com.example.other"}});
  Say(kPanel, {{"event", "setAction"}, {"key", 6}, {"action", "com.brelvon.multiview.switch"}});
  Say(kPanel, {{"event", "setAction"}, {"key", 16}, {"action", "com.brelvon.multiview.peek"}});
  EXPECT_TRUE(To(kPlugin).empty());
  EXPECT_TRUE(To(kPanel).empty());

  Say(kPanel, {{"event", "setAction"}, {"key", 6}, {"action", "com.brelvon.multiview.peek"}});
  std::vector<std::pair<std::string, std::string>> events;
  for (const json& m : To(kPlugin)) {
    events.emplace_back(m["event"], m["action"]);
    EXPECT_EQ(m["context"], "key-6");
    if (m.contains("payload")) {
      EXPECT_EQ(m["payload"]["settings"], (json{{"currentDevice", "Brelvon 2"}}));
    }
  }
  const std::string switchAction = "com.brelvon.multiview.switch", peekAction = "com.brelvon.multiview.peek";
  EXPECT_EQ(events, (std::vector<std::pair<std::string, std::string>>{
                        {"propertyInspectorDidDisappear", switchAction}, {"willDisappear", switchAction},
                        {"willAppear", peekAction}, {"propertyInspectorDidAppear", peekAction}}));
  // The old inspector is closed; one for the new action is open in its place.
  EXPECT_EQ(m_closed.count(kInspector), 1u);
  const json state = To(kPanel).back();
  EXPECT_EQ(state["keys"][5]["action"], peekAction);
  EXPECT_EQ(state["keys"][5]["defaultImage"], "/plugin/icons/peek-key.svg");
  EXPECT_EQ(state["keys"][5]["image"], "");  // the old action's image went with it
  EXPECT_EQ(state["keys"][4]["action"], switchAction);
  EXPECT_EQ(state["actions"], (json{{{"identifier", switchAction}, {"name", "Switch multiview"}},
                                    {{"identifier", peekAction}, {"name", "Hold to look"}}}));
  EXPECT_EQ(state["inspector"]["key"], 6);
  EXPECT_NE(state["inspector"]["url"].get<std::string>().find("multiview.peek"), std::string::npos);

  Say(kPanel, {{"event", "keyDown"}, {"key", 6}});
  EXPECT_EQ(To(kPlugin).at(0)["action"], peekAction);

  SettingsStore reread(m_store.Path());
  std::string warning;
  ASSERT_TRUE(reread.Load(warning));
  EXPECT_EQ(reread.GetAction("key-6"), peekAction);
  EXPECT_EQ(reread.GetAction("key-5"), "");
  EXPECT_EQ(reread.Get("key-6"), (json{{"currentDevice", "Brelvon 2"}}));
}

TEST_F(PanelRelayTest, AnInspectorAskingForSettingsGetsWhatIsStoredNow) {
  RegisterPluginAndPanel();
  OpenInspectorFor(2);
  const json later = {{"currentDevice", "Brelvon"}, {"devices", {{{"multiViewLayout", 0}}}}};
  Say(kPlugin, {{"event", "setSettings"}, {"context", "key-2"}, {"payload", later}});
  To(kInspector);
  Say(kInspector, {{"event", "getSettings"}, {"context", "INSPECTOR-1"}});
  Say(kInspector, {{"event", "getSettings"}, {"context", "key-2"}});  // not its own context
  const std::vector<json> answers = To(kInspector);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0], (json{{"event", "didReceiveSettings"}, {"action", "com.brelvon.multiview.switch"},
                              {"context", "key-2"}, {"device", "panel-1"}, {"payload", {{"settings", later}}}}));
}

}  // namespace
