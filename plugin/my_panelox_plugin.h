// The concrete plug-in: a thin dispatcher. Each handler tells the owners what happened - what each device
// shows (DeviceDisplays), what the inspectors want (Inspectors), what each key is and draws (Keys) - and ends
// with Commit, the one step that carries out what changed: key images and settings, the preview graph's run,
// stop and target, device and signal reports, the signal timer. Device writes come from DeviceDisplays as the
// owners are told. Every handler runs on the connection's event-loop thread; the preview's frame path is
// CaptureDevices'.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/device_watch.h"
#include "host/pnx_base_plugin.h"
#include "plugin/action_settings.h"
#include "plugin/device_displays.h"
#include "plugin/device_port.h"
#include "plugin/host_port.h"
#include "plugin/inspectors.h"
#include "plugin/keys.h"
#include "plugin/key_frame.h"
#include "plugin/layout_names.h"
#include "plugin/picture_keys.h"
#include "plugin/state_image.h"

class CaptureDevices;

class MyPaneloxPlugin : public PnxBasePlugin {
 public:
  // Over the real devices and the host connection that SetConnectionManager gives it.
  MyPaneloxPlugin();
  // Over the given devices and host, for tests; neither is owned and both outlive the plug-in.
  MyPaneloxPlugin(DevicePort& devices, HostPort& host);
  ~MyPaneloxPlugin() override;

  MyPaneloxPlugin(const MyPaneloxPlugin&) = delete;
  MyPaneloxPlugin& operator=(const MyPaneloxPlugin&) = delete;

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
  void OnPropertyInspectorDidAppear(const std::string& action, const std::string& context,
                                    const std::string& device) override;
  void OnPropertyInspectorDidDisappear(const std::string& action, const std::string& context,
                                       const std::string& device) override;
  void OnDidReceiveSettings(const std::string& action, const std::string& context, const nlohmann::json& payload,
                            const std::string& device) override;

  // Registers the event-loop thread (the caller) with the trace facility and starts learning of devices
  // that come and go. Call once the connection manager is set, on the thread that will run the loop.
  void Begin();

  // Stops the preview graph and waits until no frame is in the chain. The entry point calls it after the
  // connection has ended, so that no streaming thread runs while the process tears down.
  void StopPreview();

  // Devices came or went (the device watch's news, settled): looks at them again and follows what changed.
  void DevicesChanged();

  // A key frame came from the capture (the real devices hand theirs over through the event loop).
  void KeyFrameCame(KeyFrame frame);

 private:
  // Looks at the devices again; true when what is bound changed (the owners are then told).
  bool FollowDeviceChanges();
  // A look for devices when the settings name one that is not detected (or none is), at most once a second.
  void LookAgainIfMissing(const nlohmann::json& settings);
  // The settings of an event payload completed from the live devices; false without a "settings" object.
  bool ReadActionSettings(const nlohmann::json& payload, ActionSettings& out);
  // An open inspector's edit comes to `device`: the edits it leaves are taken back, and a device that comes
  // under edit is read first.
  void EditTo(const std::string& context, int32_t device);
  // An open inspector's edit naming a device that is not detected now: kept, and shown once it is back.
  void EditAbsentDevice(const std::string& context, int32_t device, const ActionSettings& settings);
  // "deviceStatus": the display names of the detected devices.
  std::vector<std::string> DetectedNames() const;
  void SendDeviceStatus(const std::string& action, const std::string& context);
  // "takeFromDevice": the key's settings take what its device shows, and its page is answered.
  void TakeFromDevice(const std::string& action, const std::string& context);

  // What the graph should do: the inspectors' preview, with the picture keys' frames of its device; or,
  // without one, the capture of a device that picture keys want.
  PreviewPlan Plan();
  // The one step at the end of every handler.
  void Commit();
  void CheckSignals();
  // What `device` shows, read back for the keys that draw it (not read while it is away).
  void ReadBackForKeys(int32_t device, const std::vector<std::vector<bool>>& signals);
  void LoadLayoutNames();

  std::unique_ptr<CaptureDevices> m_ownDevices;
  std::unique_ptr<ConnectionPort> m_ownHost;
  DevicePort& m_devices;
  HostPort& m_host;
  DeviceDisplays m_displays{m_devices};
  Inspectors m_inspectors;
  Keys m_keys{m_host};
  PictureKeys m_pictures{m_host};

  LayoutNames m_layoutNames;
  StateImageTexts m_texts;
  bool m_layoutNamesLoaded = false;
  bool m_timerRunning = false;
  std::chrono::steady_clock::time_point m_lastLook{};
  bool m_looked = false;
  bool m_traceRegistered = false;

  // Last member: stopped before anything its posted tasks use goes away.
  DeviceWatch m_deviceWatch;
};
