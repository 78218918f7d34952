// The concrete plug-in's handlers: each tells the owners what happened and ends with Commit.
#include "plugin/my_panelox_plugin.h"

#include <algorithm>
#include <array>
#include <utility>

#include "host/json_members.h"
#include "host/localizer.h"
#include "host/plugin_folder.h"
#include "host/pnx_connection_manager.h"
#include "platform/vendor_properties.h"
#include "plugin/capture_devices.h"
#include "trace/trace.h"
#include "trace/trace_contexts.h"

using nlohmann::json;

namespace {

const char kPeekAction[] = "com.brelvon.multiview.peek";
constexpr std::chrono::seconds kLookInterval{1};
constexpr std::chrono::milliseconds kSignalCheckPeriod{1000};

// "imageWidth"/"imageHeight": a JSON integer, signed or unsigned, taken by its low 32 bits.
int32_t ImageSizeMember(const json& payload, const char* key, int32_t fallback) {
  if (!payload.is_object()) return fallback;
  auto it = payload.find(key);
  if (it == payload.end()) return fallback;
  if (it->is_number_unsigned()) return static_cast<int32_t>(static_cast<uint32_t>(it->get<uint64_t>()));
  if (it->is_number_integer()) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(it->get<int64_t>())));
  }
  return fallback;
}

// The "settings" object of an event payload as it came (null when there is none).
const json& RawSettings(const json& payload) {
  static const json kNone;
  if (!payload.is_object()) return kNone;
  auto it = payload.find("settings");
  return it == payload.end() ? kNone : *it;
}

// One line per host event: its name and the key it is for.
void TraceEvent(const char* event, const std::string& context) {
  TraceMessage(kTraceMessage, kTraceHost, L"%s %s", event, context.c_str());
}

}  // namespace

MyPaneloxPlugin::MyPaneloxPlugin()
    : m_ownDevices(std::make_unique<CaptureDevices>(connectionManager)),
      m_ownHost(std::make_unique<ConnectionPort>(connectionManager)),
      m_devices(*m_ownDevices),
      m_host(*m_ownHost) {
  m_displays.FollowPresence();
  m_displays.TakeChanged();
  m_keys.LeaveImagesTo([this](const std::string& context) { return m_pictures.Pictured(context); });
  m_ownDevices->OnKeyFrame([this] {
    // The latest frame of every device that sent one, then one Commit for them all.
    KeyFrame frame;
    bool came = false;
    while (m_ownDevices->TakeKeyFrame(frame)) {
      m_pictures.Frame(std::move(frame));
      frame = KeyFrame{};
      came = true;
    }
    if (came) Commit();
  });
}

MyPaneloxPlugin::MyPaneloxPlugin(DevicePort& devices, HostPort& host) : m_devices(devices), m_host(host) {
  m_displays.FollowPresence();
  m_displays.TakeChanged();
  m_keys.LeaveImagesTo([this](const std::string& context) { return m_pictures.Pictured(context); });
}

// The graph must not run while the fields its frames use are destroyed (the devices go last).
MyPaneloxPlugin::~MyPaneloxPlugin() { StopPreview(); }

void MyPaneloxPlugin::Begin() {
  m_traceRegistered = TraceInitEx() == 1;
  TraceMessage(kTraceMessage, kTraceHost, L"plug-in started, %d device(s)", m_devices.DeviceCount());
  if (!connectionManager) return;
  PnxConnectionManager* connection = connectionManager;
  m_deviceWatch.Start([this, connection] {
    connection->Post([this] {
      TraceMessage(kTraceMessage, kTraceDevice, L"device notification");
      DevicesChanged();
    });
  });
}

void MyPaneloxPlugin::StopPreview() {
  m_deviceWatch.Stop();
  if (m_ownDevices) m_ownDevices->Stop();
  if (m_traceRegistered) {
    TraceMessage(kTraceMessage, kTraceHost, L"plug-in ends");
    TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    m_traceRegistered = false;
  }
}

// ---- devices that come and go ----------------------------------------------------------------------------

void MyPaneloxPlugin::DevicesChanged() {
  if (FollowDeviceChanges()) Commit();
}

bool MyPaneloxPlugin::FollowDeviceChanges() {
  // The preview keeps the device it shows, or the one under edit.
  const PreviewPlan plan = m_inspectors.Preview([&](const std::string& key) { return m_keys.NamedDevice(key); },
                                                [](int32_t) { return true; });
  const std::set<int32_t> pictured = m_pictures.WantedDevices();
  const int32_t device = plan.run && plan.device >= 0 ? plan.device
                         : !pictured.empty()          ? *pictured.begin()
                                                      : m_inspectors.LastEdited();
  if (!m_devices.LookForDevices(device)) return false;
  // A device that appears is drawn with its inputs' signals, not with none.
  m_devices.QueryInputSignals();
  m_displays.FollowPresence();
  return true;
}

void MyPaneloxPlugin::LookAgainIfMissing(const json& settings) {
  bool missing = m_devices.DeviceCount() == 0;
  auto named = settings.is_object() ? settings.find("currentDevice") : settings.end();
  if (!missing && named != settings.end() && named->is_string()) {
    const int32_t d = DeviceIndexNamed(named->get_ref<const std::string&>(), m_devices.MaxDevices());
    missing = !m_devices.DeviceDetected(d);
  }
  if (!missing) return;
  const auto now = std::chrono::steady_clock::now();
  if (m_looked && now - m_lastLook < kLookInterval) return;
  m_looked = true;
  m_lastLook = now;
  TraceMessage(kTraceWarning, kTraceDevice, L"the settings name a device that is not detected: looking again");
  FollowDeviceChanges();
}

// ---- settings --------------------------------------------------------------------------------------------

bool MyPaneloxPlugin::ReadActionSettings(const json& payload, ActionSettings& out) {
  json settings;
  if (!ReadObjectMember(payload, "settings", settings)) return false;
  LookAgainIfMissing(settings);
  DeviceSnapshot devices;
  for (int32_t d = 0; d < m_devices.MaxDevices(); ++d) {
    devices.detected.push_back(m_devices.DeviceDetected(d));
    devices.inputCounts.push_back(m_devices.InputCount(d));
    // A device with fewer than four inputs: what its other places show is what a key without sources keeps.
    std::vector<int32_t> shown;
    DeviceState state;
    const int32_t inputs = devices.inputCounts.back();
    if (devices.detected.back() && inputs > 0 && inputs < 4 && !EntryHoldsSources(settings, d) &&
        m_devices.ReadMultiviewState(d, state)) {
      const std::array<int32_t, 4> places = vendor::UnpackSources(state.sources);
      shown.assign(places.begin(), places.end());
    }
    devices.shownSources.push_back(std::move(shown));
  }
  if (m_devices.DeviceCount() > 0) devices.inputSignals = m_devices.QueryInputSignals();
  ActionSettings read;
  CompleteActionSettings(settings, devices, read);
  out = std::move(read);
  return true;
}

// ---- key instances ---------------------------------------------------------------------------------------

void MyPaneloxPlugin::OnWillAppear(const std::string& action, const std::string& context, const json& payload,
                                   const std::string&) {
  TraceEvent("willAppear", context);
  ActionSettings settings;
  if (ReadActionSettings(payload, settings)) {
    const int32_t named = NamedDeviceIndex(settings, m_devices.MaxDevices());
    // A plug-in started later learns the lock from a lock key that says so.
    if (action == kLockAction && named >= 0 && settings.locked) m_displays.SetLocked(named, true);
    m_keys.Settings(context, action, settings, named, true,
                    CurrentDeviceIndex(settings) >= 0 ? Keys::Event::kAppeared : Keys::Event::kAppearedAway);
    m_pictures.Settings(context, RawSettings(payload), settings, named, true);
  }
  Commit();
}

void MyPaneloxPlugin::OnWillDisappear(const std::string&, const std::string& context, const json&,
                                      const std::string&) {
  TraceEvent("willDisappear", context);
  m_keys.Gone(context);
  m_pictures.Gone(context);
  m_inspectors.KeyGone(context);
  // A key that goes away while held counts as released.
  m_displays.EndLook(context);
  Commit();
}

void MyPaneloxPlugin::OnKeyDown(const std::string& action, const std::string& context, const json& payload,
                                const std::string&) {
  TraceEvent("keyDown", context);
  // A switch key acts on its release; a hold-to-look key shows its settings while held.
  if (action != kPeekAction) return;
  ActionSettings settings;
  if (!ReadActionSettings(payload, settings)) return;
  const int32_t d = CurrentDeviceIndex(settings);
  if (d < 0) return;
  DeviceSettings& entry = settings.devices[static_cast<size_t>(d)];
  if (entry.multiViewSources.size() < 4) return;
  FitSourcesToInputs(entry.multiViewSources, m_devices.InputCount(d));
  m_displays.Look(d, context, StateOfEntry(entry).state);
  m_keys.Settings(context, action, settings, d, true, Keys::Event::kPressed);
  m_pictures.Settings(context, RawSettings(payload), settings, d, false);
  Commit();
}

void MyPaneloxPlugin::OnKeyUp(const std::string& action, const std::string& context, const json& payload,
                              const std::string&) {
  TraceEvent("keyUp", context);
  if (action == kPeekAction) {
    m_displays.EndLook(context);
    Commit();
    return;
  }
  ActionSettings settings;
  if (!ReadActionSettings(payload, settings)) return;
  if (action == kLockAction) {
    // The lock belongs to the device, wherever it is; every lock key of it is written the new lock (Commit).
    const int32_t named = NamedDeviceIndex(settings, m_devices.MaxDevices());
    if (named >= 0) m_displays.SetLocked(named, !m_displays.Locked(named));
    m_keys.Settings(context, action, settings, named, false, Keys::Event::kPressed);
    m_pictures.Settings(context, RawSettings(payload), settings, named, false);
    Commit();
    return;
  }
  const int32_t d = CurrentDeviceIndex(settings);
  if (d < 0) {
    // Its device is away: nothing is shown or written back, but the key draws what its settings now say.
    const int32_t named = NamedDeviceIndex(settings, m_devices.MaxDevices());
    m_keys.Settings(context, action, settings, named, false, Keys::Event::kPressed);
    m_pictures.Settings(context, RawSettings(payload), settings, named, false);
    Commit();
    return;
  }
  DeviceSettings& entry = settings.devices[static_cast<size_t>(d)];
  // A locked device is not changed: the settings go back as they came, the toggle and the step unmoved.
  const bool locked = m_displays.Locked(d);
  if (action == kCycleAction && !entry.steps.empty()) {
    const StepState& step = entry.steps[entry.step];
    if (!locked) {
      m_displays.Press(d, DeviceState{step.multiViewLayout, vendor::PackSources(step.multiViewSources), true});
      entry.step = (entry.step + 1) % entry.steps.size();
    }
    m_keys.Settings(context, action, settings, d, true, Keys::Event::kPressed);
    m_pictures.Settings(context, RawSettings(payload), settings, d, false);
    Commit();
    return;
  }
  bool writeBack = true;
  if (entry.multiViewSources.size() < 4) {
    // No four sources to send: the layout alone is applied and nothing is written back unless the layout was
    // saturated.
    writeBack = entry.layoutClamped;
  } else {
    const int32_t inputs = m_devices.InputCount(d);
    if (entry.toggle && !locked) ToggleFirstSource(entry, inputs);
    FitSourcesToInputs(entry.multiViewSources, inputs);
  }
  const EntryState shown = StateOfEntry(entry);
  m_displays.Press(d, shown.state, shown.layoutOnly);
  m_keys.Settings(context, action, settings, d, writeBack, Keys::Event::kPressed);
  m_pictures.Settings(context, RawSettings(payload), settings, d, false);
  Commit();
}

void MyPaneloxPlugin::OnDeviceDidConnect(const std::string& device, const json&) {
  TraceEvent("deviceDidConnect", device);
}

void MyPaneloxPlugin::OnDeviceDidDisconnect(const std::string& device) { TraceEvent("deviceDidDisconnect", device); }

// ---- property inspector ----------------------------------------------------------------------------------

void MyPaneloxPlugin::OnPropertyInspectorDidAppear(const std::string& action, const std::string& context,
                                                   const std::string&) {
  TraceEvent("propertyInspectorDidAppear", context);
  m_inspectors.Appeared(action, context);
  Commit();
}

void MyPaneloxPlugin::OnPropertyInspectorDidDisappear(const std::string&, const std::string& context,
                                                      const std::string&) {
  TraceEvent("propertyInspectorDidDisappear", context);
  int32_t edited = -1;
  if (!m_inspectors.Disappeared(context, edited)) return;
  // Its edit is taken back, and so is the device its settings name, as a device read for an edit always is,
  // unless another open inspector's edit is there.
  int32_t own = m_keys.NamedDevice(context);
  if (own >= 0 && !m_devices.DeviceDetected(own)) own = -1;
  std::vector<int32_t> takeBack;
  for (int32_t device : {own, edited}) {
    if (device < 0 || m_inspectors.EditElsewhere(context, device)) continue;
    if (std::find(takeBack.begin(), takeBack.end(), device) == takeBack.end()) takeBack.push_back(device);
  }
  for (int32_t device : takeBack) m_displays.TakeBackEdit(device);
  Commit();
}

void MyPaneloxPlugin::EditTo(const std::string& context, int32_t device) {
  const bool comesUnderEdit = device != m_inspectors.LastEdited();
  for (int32_t left : m_inspectors.EditOn(context, device)) m_displays.TakeBackEdit(left);
  if (comesUnderEdit) m_displays.ReadForEdit(device);
}

void MyPaneloxPlugin::OnDidReceiveSettings(const std::string& action, const std::string& context,
                                           const json& payload, const std::string&) {
  TraceEvent("didReceiveSettings", context);
  ActionSettings settings;
  if (!ReadActionSettings(payload, settings)) return;
  // Only an open inspector's edit shows on the device: the last change of a page that has just closed
  // changes the key's settings alone.
  // A lock key's settings hold no state to show; its inspector still edits the device's names.
  const bool nameEdit = m_inspectors.Open(context);
  const bool editing = nameEdit && action != kLockAction;
  const int32_t named = NamedDeviceIndex(settings, m_devices.MaxDevices());
  const int32_t d = CurrentDeviceIndex(settings);
  bool writeBack = false;
  if (d >= 0) {
    DeviceSettings& entry = settings.devices[static_cast<size_t>(d)];
    // No four sources to show: the layout alone, and nothing is written back unless the layout was saturated.
    writeBack = entry.multiViewSources.size() >= 4 || entry.layoutClamped;
    if (entry.multiViewSources.size() >= 4) FitSourcesToInputs(entry.multiViewSources, m_devices.InputCount(d));
    if (editing) {
      EditTo(context, d);
      const EntryState shown = StateOfEntry(entry);
      m_displays.Edit(d, shown.state, shown.layoutOnly);
    }
  } else if (named >= 0 && editing) {
    EditAbsentDevice(context, named, settings);
  }
  // An open inspector's edit is also where the input names of a device are edited.
  m_keys.Settings(context, action, settings, named, writeBack, Keys::Event::kChanged, nameEdit);
  m_pictures.Settings(context, RawSettings(payload), settings, named, false);
  Commit();
}

void MyPaneloxPlugin::EditAbsentDevice(const std::string& context, int32_t device, const ActionSettings& settings) {
  const size_t slot = static_cast<size_t>(device);
  const size_t count = settings.devices.size();
  json stored;
  if (slot < count && settings.devices[slot].hasStored) stored = settings.devices[slot].stored;
  if (slot >= count && slot - count < settings.absentDevices.size()) stored = settings.absentDevices[slot - count];
  const DeviceSettings entry = ReadStoredEntry(stored);
  for (int32_t left : m_inspectors.EditOn(context, device)) m_displays.TakeBackEdit(left);
  if (entry.multiViewSources.size() < 4) return;
  m_displays.Edit(device, StateOfEntry(entry).state);
}

void MyPaneloxPlugin::OnSendToPlugin(const std::string& action, const std::string& context, const json& payload,
                                     const std::string&) {
  TraceEvent("sendToPlugin", context);
  const std::string method = ReadStringMember(payload, "method", "");
  if (method == "startSendingImages") {
    const int32_t width = ImageSizeMember(payload, "imageWidth", 224);
    const int32_t height = ImageSizeMember(payload, "imageHeight", 126);
    TraceMessage(kTraceMessage, kTracePreview, L"preview start %dx%d", width, height);
    m_inspectors.AskedForImages(action, context, width, height);
  } else if (method == "stopSendingImages") {
    m_inspectors.SaidStop(context);
  } else if (method == "getDeviceStatus") {
    m_inspectors.AskedForStatus(action, context);
    SendDeviceStatus(action, context);
  } else if (method == "takeFromDevice") {
    TakeFromDevice(action, context);
  }
  Commit();
}

void MyPaneloxPlugin::TakeFromDevice(const std::string& action, const std::string& context) {
  const json* held = m_keys.HeldSettings(context);
  ActionSettings settings;
  int32_t d = -1;
  DeviceState shown;
  if (held && ReadActionSettings(json{{"settings", *held}}, settings)) d = CurrentDeviceIndex(settings);
  if (d < 0 || !m_devices.ReadMultiviewState(d, shown)) {
    m_host.SendToPropertyInspector(action, context, json{{"takenFromDevice", {{"error", "unavailable"}}}});
    return;
  }
  // The key's layout and first four sources become what the device shows; nothing is written to it.
  DeviceSettings& entry = settings.devices[static_cast<size_t>(d)];
  entry.multiViewLayout = shown.layout;
  entry.layoutClamped = false;
  const std::array<int32_t, 4> places = vendor::UnpackSources(shown.sources);
  if (entry.multiViewSources.size() < places.size()) entry.multiViewSources.resize(places.size());
  std::copy(places.begin(), places.end(), entry.multiViewSources.begin());
  m_keys.Settings(context, action, settings, d, true, Keys::Event::kPressed);
  const json& taken = *m_keys.HeldSettings(context);
  m_pictures.Settings(context, taken, settings, d, false);
  m_host.SendToPropertyInspector(action, context, json{{"takenFromDevice", {{"settings", taken}}}});
}

std::vector<std::string> MyPaneloxPlugin::DetectedNames() const {
  std::vector<std::string> names;
  for (int32_t d = 0; d < m_devices.MaxDevices(); ++d) {
    if (m_devices.DeviceDetected(d)) names.push_back(DeviceDisplayName(d));
  }
  return names;
}

void MyPaneloxPlugin::SendDeviceStatus(const std::string& action, const std::string& context) {
  std::vector<std::string> names = DetectedNames();
  m_host.SendToPropertyInspector(action, context, json{{"deviceStatus", {{"detected", names}}}});
  m_inspectors.ToldDevices(context) = std::move(names);
}

// ---- the common step -------------------------------------------------------------------------------------

void MyPaneloxPlugin::LoadLayoutNames() {
  if (m_layoutNamesLoaded) return;
  m_layoutNamesLoaded = true;
  m_layoutNames.Load(ReadPluginFolderJson(FindPluginFolder(), "layouts.json"), g_localizer ? g_localizer->table : json());
  if (!g_localizer) return;
  const json& table = g_localizer->table;
  m_texts.notConnected = ReadStringMember(table, "device.notConnected", m_texts.notConnected);
  m_texts.unknown = ReadStringMember(table, "state.unknown", m_texts.unknown);
  m_texts.inputs = ReadStringMember(table, "state.inputs", m_texts.inputs);
  m_texts.noSignal = ReadStringMember(table, "state.noSignal", m_texts.noSignal);
  m_texts.live = ReadStringMember(table, "state.live", m_texts.live);
  m_texts.locked = ReadStringMember(table, "lock.locked", m_texts.locked);
  m_texts.unlocked = ReadStringMember(table, "lock.unlocked", m_texts.unlocked);
}

void MyPaneloxPlugin::KeyFrameCame(KeyFrame frame) {
  m_pictures.Frame(std::move(frame));
  Commit();
}

PreviewPlan MyPaneloxPlugin::Plan() {
  // The preview: images to the newest open inspector that wants them, from the device its key names.
  PreviewPlan plan = m_inspectors.Preview(
      [&](const std::string& key) { return m_keys.NamedDevice(key); },
      [&](int32_t device) { return device >= 0 ? m_displays.Present(device) : m_devices.DeviceCount() > 0; });
  const std::set<int32_t> pictured = m_pictures.WantedDevices();
  if (plan.run) {
    plan.keyPictures = plan.device >= 0 && pictured.count(plan.device) > 0;
  } else {
    // Without a preview, the lowest device that picture keys want and that is present runs the graph.
    for (int32_t device : pictured) {
      if (!m_displays.Present(device)) continue;
      plan.run = true;
      plan.keyPictures = true;
      plan.device = device;
      break;
    }
  }
  // Every other wanted device is captured beside it, each by a capture of its own.
  if (plan.run) {
    for (int32_t device : pictured) {
      if (device != plan.device && m_displays.Present(device)) plan.keyDevices.push_back(device);
    }
  }
  return plan;
}

void MyPaneloxPlugin::Commit() {
  const PreviewPlan plan = Plan();
  if (m_devices.ShowPreview(plan)) {
    // Building the graph around another device bound the devices anew.
    m_displays.FollowPresence();
  }

  // The drawn keys of every device that was written, came or went, or whose keys changed: read back once.
  std::set<int32_t> devices = m_keys.TakeStale();
  for (int32_t d : m_displays.TakeChanged()) devices.insert(d);
  for (int32_t d : m_pictures.TakeStale()) devices.insert(d);
  const bool pictures = !m_pictures.WantedDevices().empty();
  m_keys.Locks(m_displays.LockedDevices());
  if (m_keys.AnyImageDrawn() || !devices.empty() || pictures) LoadLayoutNames();
  for (int32_t d : devices) {
    if (m_keys.DrawsDevice(d) || m_pictures.WantsShows(d)) ReadBackForKeys(d, m_devices.InputSignals());
  }
  m_keys.Flush(m_layoutNames, m_texts);
  m_pictures.Flush(
      std::chrono::steady_clock::now(), [&](int32_t device) { return m_displays.Present(device); },
      [&](const std::string& context, StateImage& out) { return m_keys.DrawnImage(context, m_layoutNames, out); },
      m_layoutNames, m_texts, m_devices.InputSignals(), m_host.UnsentBytes());

  // Devices that came or went, to every open inspector that asked.
  const std::vector<std::string> names = DetectedNames();
  for (const Inspectors::Asker& asker : m_inspectors.Askers()) {
    if (m_inspectors.ToldDevices(asker.context) != names) SendDeviceStatus(asker.action, asker.context);
  }
  // Locked devices likewise, once any is locked (an asker is first told of none).
  std::vector<std::string> locked;
  for (int32_t d : m_displays.LockedDevices()) locked.push_back(DeviceDisplayName(d));
  for (const Inspectors::Asker& asker : m_inspectors.Askers()) {
    std::vector<std::string>& told = m_inspectors.ToldLocks(asker.context);
    if (told == locked) continue;
    told = locked;
    m_host.SendToPropertyInspector(asker.action, asker.context, json{{"deviceLocks", {{"locked", locked}}}});
  }

  // The signals are looked at once a second while a key draws them or an open inspector asked for them.
  const bool wanted = m_keys.AnyDrawn() || m_inspectors.AnyAsker();
  if (wanted != m_timerRunning) {
    m_timerRunning = wanted;
    if (wanted) {
      m_host.StartRepeatingTimer(kSignalCheckPeriod, [this] { CheckSignals(); });
    } else {
      m_host.StopRepeatingTimer();
    }
  }
}

void MyPaneloxPlugin::ReadBackForKeys(int32_t device, const std::vector<std::vector<bool>>& signals) {
  const bool present = m_displays.Present(device);
  DeviceState shown;
  const bool known = present && m_devices.ReadMultiviewState(device, shown);
  m_keys.Confirmed(device, present, known, shown, signals);
  m_pictures.Shows(device, known, shown);
}

void MyPaneloxPlugin::CheckSignals() {
  const std::vector<std::vector<bool>> signals = m_devices.QueryInputSignals();
  for (int32_t d : m_keys.SignalChanges(signals)) ReadBackForKeys(d, signals);
  // "inputSignals": each device whose locks differ from what the asker was last told (all at the first look).
  for (const Inspectors::Asker& asker : m_inspectors.Askers()) {
    std::vector<std::vector<bool>>& told = m_inspectors.ToldSignals(asker.context);
    for (size_t d = 0; d < signals.size(); ++d) {
      const int32_t device = static_cast<int32_t>(d);
      if (!m_devices.DeviceDetected(device)) continue;
      if (d < told.size() && told[d] == signals[d]) continue;
      if (told.size() <= d) told.resize(d + 1);
      told[d] = signals[d];
      json bits = json::array();
      for (bool bit : signals[d]) bits.push_back(bit);
      m_host.SendToPropertyInspector(
          asker.action, asker.context,
          json{{"inputSignals", {{"device", DeviceDisplayName(device)}, {"signals", std::move(bits)}}}});
    }
  }
  Commit();
}
