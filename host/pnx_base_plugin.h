// The interface through which the host connection hands every recognised host event to the plug-in logic.
// Every On... operation is called on the thread that runs the connection's event loop, one at a time, in the
// order the host's messages arrive. Arguments are valid only for the duration of the call.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

class PnxConnectionManager;

class PnxBasePlugin {
 public:
  virtual ~PnxBasePlugin() {}

  // Called once by the entry point before the connection runs; the manager is not owned.
  void SetConnectionManager(PnxConnectionManager* manager) { connectionManager = manager; }

  virtual void OnKeyDown(const std::string& action, const std::string& context, const nlohmann::json& payload,
                         const std::string& device) = 0;
  virtual void OnKeyUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
                       const std::string& device) = 0;
  virtual void OnWillAppear(const std::string& action, const std::string& context,
                            const nlohmann::json& payload, const std::string& device) = 0;
  virtual void OnWillDisappear(const std::string& action, const std::string& context,
                               const nlohmann::json& payload, const std::string& device) = 0;
  virtual void OnDeviceDidConnect(const std::string& device, const nlohmann::json& deviceInfo) = 0;
  virtual void OnDeviceDidDisconnect(const std::string& device) = 0;
  virtual void OnSendToPlugin(const std::string& action, const std::string& context,
                              const nlohmann::json& payload, const std::string& device) = 0;

  virtual void OnApplicationDidLaunch(const nlohmann::json& /*payload*/) {}
  virtual void OnApplicationDidTerminate(const nlohmann::json& /*payload*/) {}
  virtual void OnPropertyInspectorDidAppear(const std::string& /*action*/, const std::string& /*context*/,
                                            const std::string& /*device*/) {}
  virtual void OnPropertyInspectorDidDisappear(const std::string& /*action*/, const std::string& /*context*/,
                                               const std::string& /*device*/) {}
  virtual void OnDidReceiveSettings(const std::string& /*action*/, const std::string& /*context*/,
                                    const nlohmann::json& /*payload*/, const std::string& /*device*/) {}

 protected:
  // Null until SetConnectionManager; check before each send.
  PnxConnectionManager* connectionManager = nullptr;
};
