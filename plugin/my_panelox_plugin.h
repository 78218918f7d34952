// The concrete plug-in. For now every handler is empty.
#pragma once

#include "host/pnx_base_plugin.h"

class MyPaneloxPlugin : public PnxBasePlugin {
 public:
  MyPaneloxPlugin();

  void OnKeyDown(const std::string& action, const std::string& context, const nlohmann::json& payload,
                 const std::string& device) override;
  void OnKeyUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
               const std::string& device) override;
  void OnWillAppear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                    const std::string& device) override;
  void OnWillDisappear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                       const std::string& device) override;
  void OnDeviceDidConnect(const std::string& device, const nlohmann::json& deviceInfo) override;
  void OnDeviceDidDisconnect(const std::string& device) override;
  void OnSendToPlugin(const std::string& action, const std::string& context, const nlohmann::json& payload,
                      const std::string& device) override;
};
