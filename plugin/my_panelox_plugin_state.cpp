// The plug-in's keys that show the device's state and its hold-to-look action. Event-loop thread; the signal
// check runs as a repeating timer on the same event loop, only while some key shows the state.
#include <chrono>

#include "host/json_members.h"
#include "host/localizer.h"
#include "host/plugin_folder.h"
#include "host/pnx_connection_manager.h"
#include "plugin/state_image.h"
#include "platform/vendor_properties.h"
#include "plugin/my_panelox_plugin.h"

using nlohmann::json;

namespace {

const char kPeekAction[] = "com.brelvon.multiview.peek";
constexpr std::chrono::milliseconds kSignalCheckPeriod{1000};

}  // namespace

bool MyPaneloxPlugin::IsPeekAction(const std::string& action) { return action == kPeekAction; }

void MyPaneloxPlugin::PeekDown(const std::string& context, const json& payload) {
  ActionSettings settings;
  if (!ReadActionSettings(payload, settings)) return;
  const int32_t d = CurrentDeviceIndex(settings);
  if (d < 0) return;
  DeviceSettings& entry = settings.devices[static_cast<size_t>(d)];
  if (entry.multiViewSources.size() < 4) return;
  FitSourcesToInputs(entry.multiViewSources, InputCount(d));
  m_displays.Look(d, context, DeviceState{entry.multiViewLayout, vendor::PackSources(entry.multiViewSources), true});
  WriteBackSettings(settings, context);
  ShowChanges();
}

void MyPaneloxPlugin::ShowStateAfterSettings(const std::string& context, const ActionSettings& settings) {
  // Keys are listed by the device their settings name, detected or not, so that a key of a device that is
  // away says so and is drawn again when it is back.
  const int32_t d = NamedDeviceIndex(settings, m_deviceManager.MaxDevices());
  const bool wanted = settings.showState && settings.icon.empty();
  if (m_stateKeys.Track(context, settings, d)) {
    // No longer drawn: the host's default image comes back, unless the key image took over.
    if (settings.icon.empty() && connectionManager) connectionManager->SetImage("", context);
  } else if (wanted && d < 0 && connectionManager) {
    connectionManager->SetImage(SvgDataUrl(StateImageSvg(StateImage{})), context);
  }
  UpdateStateTimer();
  if (d >= 0 && wanted) RedrawStateKeys(d, context, m_deviceManager.InputSignals());
}

void MyPaneloxPlugin::ShowChanges() {
  for (int32_t d : m_displays.TakeChanged()) RedrawStateKeys(d, "", m_deviceManager.InputSignals());
}

void MyPaneloxPlugin::KeyGone(const std::string& context) {
  if (m_stateKeys.Forget(context)) UpdateStateTimer();
  m_displays.EndLook(context);
  ShowChanges();
}

void MyPaneloxPlugin::RedrawStateKeys(int32_t d, const std::string& context,
                                      const std::vector<std::vector<bool>>& signals) {
  if (!connectionManager || !m_stateKeys.HasDevice(d)) return;
  if (!m_layoutNamesLoaded) {
    m_layoutNamesLoaded = true;
    m_layoutNames.Load(ReadPluginFolderJson(FindPluginFolder(), "layouts.json"),
                       g_localizer ? g_localizer->table : json());
  }
  const bool present = m_displays.Present(d);
  DeviceState shown;
  const bool known = present && m_deviceManager.ReadMultiviewState(d, shown);
  std::string notConnected = "not connected";
  if (g_localizer) notConnected = ReadStringMember(g_localizer->table, "device.notConnected", notConnected);
  for (const auto& image : m_stateKeys.Draw(d, present, known, shown, signals, m_layoutNames, context)) {
    connectionManager->SetImage(SvgDataUrl(StateImageSvg(image.second, notConnected)), image.first);
  }
}

void MyPaneloxPlugin::UpdateStateTimer() {
  const bool wanted = (!m_stateKeys.Empty() || m_statusWanted) && connectionManager;
  if (wanted == m_stateTimerRunning) return;
  m_stateTimerRunning = wanted;
  if (wanted) {
    connectionManager->StartRepeatingTimer(kSignalCheckPeriod, [this] { CheckStateSignals(); });
  } else if (connectionManager) {
    connectionManager->StopRepeatingTimer();
  }
}

void MyPaneloxPlugin::CheckStateSignals() {
  const std::vector<std::vector<bool>> signals = m_deviceManager.QueryInputSignals();
  for (int32_t d : m_stateKeys.SignalChanges(signals)) RedrawStateKeys(d, "", signals);
  if (m_statusWanted) ReportInputSignals(signals);
}

void MyPaneloxPlugin::ReportInputSignals(const std::vector<std::vector<bool>>& signals) {
  for (size_t d = 0; d < signals.size(); ++d) {
    const int32_t device = static_cast<int32_t>(d);
    if (!m_deviceManager.DeviceDetected(device)) continue;
    if (d < m_reportedSignals.size() && m_reportedSignals[d] == signals[d]) continue;
    if (m_reportedSignals.size() <= d) m_reportedSignals.resize(d + 1);
    m_reportedSignals[d] = signals[d];
    json bits = json::array();
    for (bool bit : signals[d]) bits.push_back(bit);
    connectionManager->SendToPropertyInspector(
        m_statusAction, m_statusContext,
        json{{"inputSignals", {{"device", DeviceDisplayName(device)}, {"signals", std::move(bits)}}}});
  }
}
