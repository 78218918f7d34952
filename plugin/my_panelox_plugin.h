// The concrete plug-in: key settings, key presses, the property inspector channel and the live preview.
// Threads: every handler runs on the connection's event-loop thread. SendPreviewImage runs on the preview's
// streaming thread inside the device manager's frame path (its preview lock held); it reads
// connectionManager (set before the loop runs) and the fields marked "frame path" below. Those are changed
// only inside the manager's ChangePreview, and the manager's own preview fields only through its preview
// operations, so a frame in progress never sees half a change.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/capture_device_manager.h"
#include "device/device_watch.h"
#include "host/pnx_base_plugin.h"
#include "plugin/action_settings.h"
#include "plugin/device_displays.h"
#include "plugin/layout_names.h"
#include "plugin/state_keys.h"

// A key on the panel whose settings named a detected device. Only deviceIndex is read; the strings keep what
// the host sent.
struct ActionInstance {
  std::string context;
  std::string panelDevice;
  std::string action;
  int32_t deviceIndex = 0;
};

class MyPaneloxPlugin : public PnxBasePlugin {
 public:
  MyPaneloxPlugin();
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

 private:
  // Looks at the devices again and follows what changed: the graph is rebuilt only when the Brelvon nodes
  // differ from the bound ones, and a preview the inspector still wants runs again on its device.
  // Event-loop thread.
  void FollowDeviceChanges();

  // The settings of an event payload completed from the live devices; false without a "settings" object.
  bool ReadActionSettings(const nlohmann::json& payload, ActionSettings& out);
  void WriteBackSettings(const ActionSettings& settings, const std::string& context);
  void ShowIcon(const std::string& image, const std::string& context);
  // ShowIcon for a key image, and when the image setting of a key that was shown one goes away: its default
  // image back, or nothing where the drawn state image replaces it.
  void FollowIcon(const ActionSettings& settings, const std::string& context);

  // The plug-in's image-ready callback: sends one finished BMP to the current inspector target and empties
  // bytes; the image is dropped instead while the connection holds more than kUnsentImageLimit such
  // messages unsent. Streaming thread.
  static void SendPreviewImage(std::vector<uint8_t>* bytes, void* context);

  // The longest message a host built on the stock WebSocket library accepts; a longer one makes it close the
  // connection. A preview size whose image message could pass it (ImageMessageBound with identifiers of
  // kTargetAllowance bytes each) makes no image; an image whose actual target identifiers are longer is not
  // sent. About 2.66 million pixels fit (1920 x 1080 does, 2500 x 2500 does not).
  static constexpr int64_t kMaxHostMessageBytes = 32000000;
  static constexpr size_t kTargetAllowance = 256;
  // While the connection holds more unsent bytes than this many image messages (a host that has stopped
  // reading), images are skipped instead of queued.
  static constexpr int64_t kUnsentImageLimit = 2;

  // Whether a preview image of bmpBytes fits one message to the host.
  static bool PreviewImageFits(int64_t bmpBytes);
  void SetInspectorTarget(const std::string& action, const std::string& context);
  void ApplyPreviewSize();
  void RunPreviewGraph();
  // A preview request shows the device of the inspector's key, when that key is known.
  void ShowInspectorKeyDevice();
  // The images go to the key whose inspector asked for them.
  void StartSendingImages(const std::string& action, const std::string& context, const nlohmann::json& payload);
  // The inspector that gets the images no longer wants them (its page is hidden): the graph stops.
  void StopSendingImages(const std::string& context);
  // The inspector's edit moves to `device`: the device edited so far gets its edit taken back.
  void MoveEditTo(int32_t device);
  // An edit naming a device that is not detected now: kept, and shown once the device is back.
  void EditAbsentDevice(int32_t device, const std::string& context, const ActionSettings& settings);
  int32_t InputCount(int32_t device) const;
  // "deviceStatus": the display names of the detected devices, to the inspector that asked for them.
  void SendDeviceStatus();
  // A look for devices when the settings name one that is not detected (or none is), at most once a second.
  void LookAgainIfMissing(const nlohmann::json& settings);
  void StopGraph();

  // Keys that show the device's state and the hold-to-look action (my_panelox_plugin_state.cpp). Nothing
  // here sends, reads a device or runs a timer unless a key uses "showState" or the peek action.
  static bool IsPeekAction(const std::string& action);
  void PeekDown(const std::string& context, const nlohmann::json& payload);
  // After a key's settings were read: lists or drops it as a state key and draws it.
  void ShowStateAfterSettings(const std::string& context, const ActionSettings& settings);
  // Draws the state keys of every device whose state was written, or that came or went, since the last call.
  void ShowChanges();
  void KeyGone(const std::string& context);
  // Sends the image of device d's state keys (only of context when not empty): read back from the device, or
  // "not connected" while it is away.
  void RedrawStateKeys(int32_t d, const std::string& context, const std::vector<std::vector<bool>>& signals);
  void UpdateStateTimer();
  void CheckStateSignals();
  // "inputSignals": the signal locks of each device whose locks differ from what the open inspector was last
  // told (all of them at the first look after it asked).
  void ReportInputSignals(const std::vector<std::vector<bool>>& signals);

  CaptureDeviceManager m_deviceManager;
  // The one owner of what each device shows; every multiview write goes through it.
  DeviceDisplays m_displays{m_deviceManager};
  int32_t m_imageWidth = 0;
  int32_t m_imageHeight = 0;
  int32_t m_previewDevice = -1;
  std::map<std::string, ActionInstance> m_instances;
  // The key whose inspector gets the preview images; its action travels with the images (m_imageAction).
  std::string m_inspectorContext;
  // The keys whose inspector is open: a key's second "propertyInspectorDidAppear" does not make it count twice.
  std::set<std::string> m_openInspectors;
  // Set by every edit applied to a device, cleared when the last inspector closes: the device under edit
  // (m_previewDevice) is then restored even when the closing key is not known.
  bool m_editedSinceLastClose = false;
  // True from "startSendingImages" until the inspector closes: a device that comes back resumes the preview.
  bool m_previewWanted = false;
  // Set by "getDeviceStatus" while an inspector is open, cleared when the last one closes: device changes
  // are then reported to the asking inspector (m_statusAction/m_statusContext).
  bool m_statusWanted = false;
  std::string m_statusAction;
  std::string m_statusContext;
  // What the inspector that asked for the device status was last told of each device's signal locks; the
  // signal check runs once a second while it is open.
  std::vector<std::vector<bool>> m_reportedSignals;
  // The keys that were last sent a key image of their own, so that removing it gives the default back.
  std::set<std::string> m_keysWithIcon;
  std::chrono::steady_clock::time_point m_lastLook{};
  bool m_looked = false;
  bool m_traceRegistered = false;
  StateKeys m_stateKeys;
  LayoutNames m_layoutNames;
  bool m_layoutNamesLoaded = false;
  bool m_stateTimerRunning = false;

  // Frame path: the inspector target (action and context) for the streaming thread, and the payload text,
  // which keeps its storage from image to image.
  std::string m_imageAction;
  std::string m_imageContext;
  std::string m_imagePayload;

  // Last member: stopped before anything its posted tasks use goes away.
  DeviceWatch m_deviceWatch;
};
