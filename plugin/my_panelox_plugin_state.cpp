// The plug-in's keys that show the device's state and its hold-to-look action. Event-loop thread; the signal
// check runs as a repeating timer on the same event loop, only while some key shows the state.
#include <chrono>

#include "host/localizer.h"
#include "host/plugin_folder.h"
#include "host/pnx_connection_manager.h"
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
  if (m_peeks.Press(context, d)) {
    DeviceState before;
    if (m_deviceManager.ReadMultiviewState(d, before)) m_peeks.Remember(d, before);
  }
  const DeviceSettings& entry = settings.devices[static_cast<size_t>(d)];
  m_deviceManager.SetMultiviewLayout(d, entry.multiViewLayout, false);
  m_deviceManager.SetMultiviewSources(d, &entry.multiViewSources, false);
  WriteBackSettings(settings, context);
  RedrawStateKeys(d, "", m_deviceManager.m_inputSignals);
}

void MyPaneloxPlugin::PeekUp(const std::string& context) {
  int32_t d = -1;
  DeviceState before;
  if (!m_peeks.Release(context, d, before)) return;
  const std::array<int32_t, 4> places = vendor::UnpackSources(before.sources);
  const std::vector<int32_t> sources(places.begin(), places.end());
  m_deviceManager.SetMultiviewLayout(d, before.layout, false);
  m_deviceManager.SetMultiviewSources(d, &sources, false);
  RedrawStateKeys(d, "", m_deviceManager.m_inputSignals);
}

void MyPaneloxPlugin::AfterPress(int32_t d, const DeviceSettings& entry) {
  // A press while a look is held stays once the look ends.
  if (m_peeks.Holds(d) && entry.multiViewSources.size() >= 4) {
    m_peeks.Remember(d, DeviceState{entry.multiViewLayout, vendor::PackSources(entry.multiViewSources), true});
  }
  RedrawStateKeys(d, "", m_deviceManager.m_inputSignals);
}

void MyPaneloxPlugin::ShowStateAfterSettings(const std::string& context, const ActionSettings& settings,
                                             bool redrawDevice) {
  const int32_t d = CurrentDeviceIndex(settings);
  const bool wanted = settings.showState && settings.icon.empty();
  if (m_stateKeys.Track(context, settings, d)) {
    // No longer drawn: the host's default image comes back, unless the key image took over.
    if (settings.icon.empty() && connectionManager) connectionManager->SetImage("", context);
  } else if (wanted && d < 0 && connectionManager) {
    connectionManager->SetImage(SvgDataUrl(StateImageSvg(StateImage{})), context);
  }
  UpdateStateTimer();
  if (d < 0) return;
  if (redrawDevice) {
    RedrawStateKeys(d, "", m_deviceManager.m_inputSignals);
  } else if (wanted) {
    RedrawStateKeys(d, context, m_deviceManager.m_inputSignals);
  }
}

void MyPaneloxPlugin::KeyGone(const std::string& context) {
  if (m_stateKeys.Forget(context)) UpdateStateTimer();
  PeekUp(context);
}

void MyPaneloxPlugin::RedrawStateKeys(int32_t d, const std::string& context,
                                      const std::vector<std::vector<bool>>& signals) {
  if (!connectionManager || !m_stateKeys.HasDevice(d)) return;
  if (!m_layoutNamesLoaded) {
    m_layoutNamesLoaded = true;
    m_layoutNames.Load(ReadPluginFolderJson(FindPluginFolder(), "layouts.json"),
                       g_localizer ? g_localizer->table : json());
  }
  DeviceState shown;
  const bool known = m_deviceManager.ReadMultiviewState(d, shown);
  for (const auto& image : m_stateKeys.Draw(d, known, shown, signals, m_layoutNames, context)) {
    connectionManager->SetImage(SvgDataUrl(StateImageSvg(image.second)), image.first);
  }
}

void MyPaneloxPlugin::UpdateStateTimer() {
  const bool wanted = !m_stateKeys.Empty() && connectionManager;
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
}
