// What pnx-devhost's web mode does with the messages of its three kinds of client: the plug-in, the property
// inspector of the key being configured, and the panel pages. Knows nothing of sockets: it is handed each
// connection's messages and answers through the Send and Close functions it was given. Not thread-safe: every
// call comes from the server's event loop.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/devhost/settings_store.h"

class PanelRelay {
 public:
  using ClientId = uint64_t;
  static constexpr int kKeyCount = 15;
  static constexpr int kColumns = 5;

  struct Config {
    uint16_t port = 0;
    std::string pluginUUID;
    std::string info;      // the plug-in's "-info" block, handed to inspectors too
    std::string language;  // for the panel page
    std::string pluginName;
    std::string action;        // the action a key carries until a person chooses another
    std::string defaultImage;  // URL path of that action's key image
    std::string inspectorPage; // URL path of its inspector page
    std::string token;         // the run's; the inspector page's address carries it for its connection
    std::string device = "panel-1";
    // Every action of the manifest, the first being the one above; empty means that one alone.
    struct Action {
      std::string identifier;
      std::string name;
      std::string defaultImage;
      std::string inspectorPage;
    };
    std::vector<Action> actions;
  };
  struct Callbacks {
    std::function<void(ClientId, const std::string&)> send;
    // For a message the client may miss (a preview image) when it is behind; send when not given.
    std::function<void(ClientId, const std::string&)> sendSkippable;
    std::function<void(ClientId)> close;
    std::function<void(const std::string&)> warn;
    std::function<std::string()> newUUID;
    // The emulated devices' control, when the host offers it: applies a "plugDevice"/"setSignal" message
    // (false when it changed nothing) and reports the devices for the panel state.
    std::function<bool(const nlohmann::json&)> simControl;
    std::function<nlohmann::json()> simState;
  };

  PanelRelay(Config config, SettingsStore& store, Callbacks callbacks);

  // Every connection opens first; holdsToken is false for one that may register only as the plug-in.
  void OnOpen(ClientId client, bool holdsToken);
  void OnMessage(ClientId client, const std::string& text);
  void OnClose(ClientId client);

  static std::string ContextOf(int key) { return "key-" + std::to_string(key); }

 private:
  enum class Role { kUnknown, kPlugin, kInspector, kPanel };
  struct Inspector {
    int key = 0;  // 0 = none open
    std::string uuid;
    // Made when it opens, with the settings stored then, as a host launches its page: later state
    // broadcasts carry the same address, so the panel page does not load the inspector again.
    std::string url;
    ClientId client = 0;  // 0 = not connected
  };

  void Register(ClientId client, const std::string& text);
  void FromPlugin(const std::string& text);
  void FromInspector(ClientId client, const std::string& text);
  void FromPanel(const std::string& text);

  void OpenInspector(int key);
  void SetAction(int key, const std::string& action);
  // The action a key carries: its stored choice when the manifest still has it, else the first.
  const Config::Action& ActionOf(int key) const;
  void CloseInspector();
  void SendToPlugin(const nlohmann::json& message);
  void SendKeyEvent(const std::string& event, int key);
  void StoreSettings(int key, const nlohmann::json& settings);
  nlohmann::json KeyPayload(int key) const;
  nlohmann::json PanelState() const;
  void BroadcastPanelState();
  // The key number of a "key-N" context, 0 when it names no key.
  static int KeyOfContext(const std::string& context);

  Config m_config;
  SettingsStore& m_store;
  Callbacks m_callbacks;
  std::map<ClientId, Role> m_roles;
  ClientId m_plugin = 0;
  std::set<ClientId> m_panels;
  std::set<ClientId> m_holdsToken;  // open and not yet registered
  Inspector m_inspector;
  std::array<std::string, kKeyCount> m_images;
};
