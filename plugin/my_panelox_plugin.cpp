// The concrete plug-in. For now every handler is empty.
#include "plugin/my_panelox_plugin.h"

MyPaneloxPlugin::MyPaneloxPlugin() = default;

void MyPaneloxPlugin::OnKeyDown(const std::string&, const std::string&, const nlohmann::json&,
                                const std::string&) {}
void MyPaneloxPlugin::OnKeyUp(const std::string&, const std::string&, const nlohmann::json&,
                              const std::string&) {}
void MyPaneloxPlugin::OnWillAppear(const std::string&, const std::string&, const nlohmann::json&,
                                   const std::string&) {}
void MyPaneloxPlugin::OnWillDisappear(const std::string&, const std::string&, const nlohmann::json&,
                                      const std::string&) {}
void MyPaneloxPlugin::OnDeviceDidConnect(const std::string&, const nlohmann::json&) {}
void MyPaneloxPlugin::OnDeviceDidDisconnect(const std::string&) {}
void MyPaneloxPlugin::OnSendToPlugin(const std::string&, const std::string&, const nlohmann::json&,
                                     const std::string&) {}
