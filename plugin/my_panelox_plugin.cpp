// The concrete plug-in's handlers.
#include "plugin/my_panelox_plugin.h"

#include <algorithm>
#include <memory>

#include "device/bmp_image.h"
#include "host/json_members.h"
#include "host/pnx_connection_manager.h"
#include "plugin/image_data_message.h"
#include "platform/vendor_properties.h"
#include "trace/trace.h"
#include "trace/trace_contexts.h"

using nlohmann::json;

namespace {

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

// One line per host event: its name and the key it is for.
void TraceEvent(const char* event, const std::string& context) {
  TraceMessage(kTraceMessage, kTraceHost, L"%s %s", event, context.c_str());
}

// Registers the preview's streaming thread for its lines on first use and drops the registration when the
// thread ends, so that threads of earlier runs leave no records behind.
struct StreamThreadTrace {
  StreamThreadTrace() : registered(TraceInitEx() == 1) {
    if (registered) TraceMessage(kTraceMessage, kTracePreview, L"preview streaming thread started");
  }
  ~StreamThreadTrace() {
    if (registered) TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  }
  StreamThreadTrace(const StreamThreadTrace&) = delete;
  StreamThreadTrace& operator=(const StreamThreadTrace&) = delete;
  bool registered;
};

constexpr std::chrono::seconds kLookInterval{1};

}  // namespace

MyPaneloxPlugin::MyPaneloxPlugin() {
  // The second call is a second full attempt only when the first one failed.
  m_deviceManager.OpenDevice(0);
  m_deviceManager.OpenDevice(0);
  m_displays.FollowPresence();
  m_displays.TakeChanged();
}

// The graph must not run while the fields its frames use are destroyed (the manager goes last).
MyPaneloxPlugin::~MyPaneloxPlugin() { StopPreview(); }

void MyPaneloxPlugin::Begin() {
  m_traceRegistered = TraceInitEx() == 1;
  TraceMessage(kTraceMessage, kTraceHost, L"plug-in started, %d device(s)", m_deviceManager.DeviceCount());
  if (!connectionManager) return;
  PnxConnectionManager* connection = connectionManager;
  m_deviceWatch.Start([this, connection] {
    connection->Post([this] {
      TraceMessage(kTraceMessage, kTraceDevice, L"device notification");
      FollowDeviceChanges();
    });
  });
}

void MyPaneloxPlugin::FollowDeviceChanges() {
  const int32_t device = m_previewDevice >= 0 ? m_previewDevice : std::max(m_deviceManager.CurrentDevice(), 0);
  if (!m_deviceManager.LookForDevices(device)) return;
  m_displays.FollowPresence();
  ShowChanges();
  if (m_statusWanted) SendDeviceStatus();
  if (m_previewWanted && m_deviceManager.DeviceDetected(device)) {
    TraceMessage(kTraceMessage, kTracePreview, L"preview resumes on device %d", device);
    RunPreviewGraph();
  }
}

void MyPaneloxPlugin::LookAgainIfMissing(const json& settings) {
  bool missing = m_deviceManager.DeviceCount() == 0;
  auto named = settings.is_object() ? settings.find("currentDevice") : settings.end();
  if (!missing && named != settings.end() && named->is_string()) {
    const int32_t d = DeviceIndexNamed(named->get_ref<const std::string&>(), m_deviceManager.MaxDevices());
    missing = !m_deviceManager.DeviceDetected(d);
  }
  if (!missing) return;
  const auto now = std::chrono::steady_clock::now();
  if (m_looked && now - m_lastLook < kLookInterval) return;
  m_looked = true;
  m_lastLook = now;
  TraceMessage(kTraceWarning, kTraceDevice, L"the settings name a device that is not detected: looking again");
  FollowDeviceChanges();
}

// ---- settings ------------------------------------------------------------------------------------------

bool MyPaneloxPlugin::ReadActionSettings(const json& payload, ActionSettings& out) {
  json settings;
  if (!ReadObjectMember(payload, "settings", settings)) return false;
  LookAgainIfMissing(settings);
  DeviceSnapshot devices;
  for (int32_t d = 0; d < m_deviceManager.MaxDevices(); ++d) devices.detected.push_back(m_deviceManager.DeviceDetected(d));
  devices.inputCounts = m_deviceManager.InputCounts();
  if (m_deviceManager.DeviceCount() > 0) devices.inputSignals = m_deviceManager.QueryInputSignals();
  ActionSettings read;
  CompleteActionSettings(settings, devices, read);
  out = std::move(read);
  return true;
}

void MyPaneloxPlugin::WriteBackSettings(const ActionSettings& settings, const std::string& context) {
  json out;
  if (WriteActionSettings(settings, out) && connectionManager) connectionManager->SetSettings(out, context);
}

void MyPaneloxPlugin::ShowIcon(const std::string& image, const std::string& context) {
  if (!image.empty() && connectionManager) connectionManager->SetImage(image, context);
}

void MyPaneloxPlugin::FollowIcon(const ActionSettings& settings, const std::string& context) {
  if (!settings.icon.empty()) {
    ShowIcon(settings.icon, context);
    if (connectionManager) m_keysWithIcon.insert(context);
    return;
  }
  // Only on the transition: a key that never had an image of its own gets nothing new.
  if (m_keysWithIcon.erase(context) == 0 || settings.showState || !connectionManager) return;
  connectionManager->SetImage("", context);
}

void MyPaneloxPlugin::SetInspectorTarget(const std::string& action, const std::string& context) {
  m_inspectorContext = context;
  m_deviceManager.ChangePreview([&] {
    m_imageAction = action;
    m_imageContext = context;
  });
}

// ---- key instances -------------------------------------------------------------------------------------

void MyPaneloxPlugin::OnWillAppear(const std::string& action, const std::string& context, const json& payload,
                                   const std::string& device) {
  TraceEvent("willAppear", context);
  ActionSettings settings;
  if (ReadActionSettings(payload, settings)) {
    const int32_t d = CurrentDeviceIndex(settings);
    if (d >= 0) {
      FollowIcon(settings, context);
      m_instances[context] = ActionInstance{context, device, action, d};
    }
    WriteBackSettings(settings, context);
    ShowStateAfterSettings(context, settings);
  }
  // An open inspector keeps its images: a key appearing (a page switch on the panel) takes the target only
  // while none is open.
  if (m_openInspectors.empty()) SetInspectorTarget(action, context);
}

void MyPaneloxPlugin::OnWillDisappear(const std::string&, const std::string& context, const json&,
                                      const std::string&) {
  TraceEvent("willDisappear", context);
  // Other keys leaving the panel do not end the open inspector's preview.
  if (m_openInspectors.empty() || context == m_inspectorContext) {
    StopGraph();
    m_previewWanted = false;
  }
  m_instances.erase(context);
  m_keysWithIcon.erase(context);
  KeyGone(context);
}

void MyPaneloxPlugin::OnKeyDown(const std::string& action, const std::string& context, const json& payload,
                                const std::string&) {
  TraceEvent("keyDown", context);
  if (IsPeekAction(action)) PeekDown(context, payload);
}

void MyPaneloxPlugin::OnDeviceDidConnect(const std::string& device, const json&) {
  TraceEvent("deviceDidConnect", device);
}

void MyPaneloxPlugin::OnDeviceDidDisconnect(const std::string& device) { TraceEvent("deviceDidDisconnect", device); }

void MyPaneloxPlugin::OnKeyUp(const std::string& action, const std::string& context, const json& payload,
                              const std::string&) {
  TraceEvent("keyUp", context);
  if (IsPeekAction(action)) {
    m_displays.EndLook(context);
    ShowChanges();
    return;
  }
  ActionSettings settings;
  if (!ReadActionSettings(payload, settings)) return;
  const int32_t d = CurrentDeviceIndex(settings);
  if (d < 0) return;
  DeviceSettings& entry = settings.devices[static_cast<size_t>(d)];
  if (entry.multiViewSources.size() < 4) {
    // No four sources to send: the layout alone is applied and nothing is written back unless the layout was
    // saturated.
    m_displays.Press(d, DeviceState{entry.multiViewLayout, 0, false}, true);
    if (entry.layoutClamped) WriteBackSettings(settings, context);
    ShowChanges();
    return;
  }
  const int32_t inputs = InputCount(d);
  if (entry.toggle) ToggleFirstSource(entry, inputs);
  FitSourcesToInputs(entry.multiViewSources, inputs);
  m_displays.Press(d, DeviceState{entry.multiViewLayout, vendor::PackSources(entry.multiViewSources), true});
  WriteBackSettings(settings, context);
  ShowChanges();
}

int32_t MyPaneloxPlugin::InputCount(int32_t device) const {
  const auto& counts = m_deviceManager.InputCounts();
  return device >= 0 && static_cast<size_t>(device) < counts.size() ? counts[static_cast<size_t>(device)] : 0;
}

// ---- property inspector --------------------------------------------------------------------------------

void MyPaneloxPlugin::OnPropertyInspectorDidAppear(const std::string& action, const std::string& context,
                                                   const std::string&) {
  TraceEvent("propertyInspectorDidAppear", context);
  SetInspectorTarget(action, context);
  m_openInspectors.insert(context);
}

void MyPaneloxPlugin::OnPropertyInspectorDidDisappear(const std::string&, const std::string& context,
                                                      const std::string&) {
  TraceEvent("propertyInspectorDidDisappear", context);
  m_openInspectors.erase(context);
  // A stray "propertyInspectorDidDisappear" (for a key with no inspector open) closes nothing while another
  // inspector is open.
  if (!m_openInspectors.empty()) return;
  // The last inspector closing takes the edit back whichever key it belonged to, and whether or not that
  // key is still known (its "willDisappear" may have come first, or its settings named no detected device).
  auto it = m_instances.find(context);
  const int32_t known = it != m_instances.end() ? it->second.deviceIndex : -1;
  if (known >= 0) m_displays.TakeBackEdit(known);
  if (m_editedSinceLastClose && m_previewDevice >= 0 && m_previewDevice != known) m_displays.TakeBackEdit(m_previewDevice);
  m_editedSinceLastClose = false;
  StopGraph();
  m_previewWanted = false;
  m_statusWanted = false;
  m_reportedSignals.clear();
  UpdateStateTimer();
  ShowChanges();
}

void MyPaneloxPlugin::MoveEditTo(int32_t device) {
  if (m_previewDevice == device) return;
  if (m_previewDevice != -1) m_displays.TakeBackEdit(m_previewDevice);
  m_previewDevice = device;
}

void MyPaneloxPlugin::OnDidReceiveSettings(const std::string&, const std::string& context, const json& payload,
                                           const std::string&) {
  TraceEvent("didReceiveSettings", context);
  ActionSettings settings;
  if (!ReadActionSettings(payload, settings)) return;
  const int32_t d = CurrentDeviceIndex(settings);
  if (d < 0) {
    const int32_t named = NamedDeviceIndex(settings, m_deviceManager.MaxDevices());
    if (named >= 0) EditAbsentDevice(named, context, settings);
    ShowStateAfterSettings(context, settings);
    ShowChanges();
    return;
  }
  if (m_previewDevice == -1) {
    m_previewDevice = d;
    m_displays.ReadForEdit(d);
  } else if (m_previewDevice != d) {
    MoveEditTo(d);
    m_deviceManager.OpenDevice(d);
    m_displays.FollowPresence();
    ApplyPreviewSize();
    RunPreviewGraph();
    m_displays.ReadForEdit(d);
    m_instances[context].deviceIndex = d;
  }
  // The instance follows the device its inspector edits, so that closing the inspector takes the edit
  // back on that device (also at the first edit, and when the device was already under edit).
  auto instance = m_instances.find(context);
  if (instance != m_instances.end()) instance->second.deviceIndex = d;
  m_editedSinceLastClose = true;

  DeviceSettings& entry = settings.devices[static_cast<size_t>(d)];
  if (entry.multiViewSources.size() < 4) {
    // No four sources to show: the layout alone, and nothing is written back unless the layout was saturated.
    m_displays.Edit(d, DeviceState{entry.multiViewLayout, 0, false}, true);
    if (entry.layoutClamped) WriteBackSettings(settings, context);
    FollowIcon(settings, m_inspectorContext);
    ShowChanges();
    return;
  }
  FitSourcesToInputs(entry.multiViewSources, InputCount(d));
  FollowIcon(settings, m_inspectorContext);
  m_displays.Edit(d, DeviceState{entry.multiViewLayout, vendor::PackSources(entry.multiViewSources), true});
  WriteBackSettings(settings, context);
  ShowStateAfterSettings(context, settings);
  ShowChanges();
}

void MyPaneloxPlugin::EditAbsentDevice(int32_t device, const std::string& context, const ActionSettings& settings) {
  const size_t slot = static_cast<size_t>(device);
  const size_t count = settings.devices.size();
  json stored;
  if (slot < count && settings.devices[slot].hasStored) stored = settings.devices[slot].stored;
  if (slot >= count && slot - count < settings.absentDevices.size()) stored = settings.absentDevices[slot - count];
  const DeviceSettings entry = ReadStoredEntry(stored);
  MoveEditTo(device);
  auto instance = m_instances.find(context);
  if (instance != m_instances.end()) instance->second.deviceIndex = device;
  m_editedSinceLastClose = true;
  FollowIcon(settings, m_inspectorContext);
  if (entry.multiViewSources.size() < 4) return;
  m_displays.Edit(device, DeviceState{entry.multiViewLayout, vendor::PackSources(entry.multiViewSources), true});
}

void MyPaneloxPlugin::OnSendToPlugin(const std::string& action, const std::string& context, const json& payload,
                                     const std::string&) {
  TraceEvent("sendToPlugin", context);
  const std::string method = ReadStringMember(payload, "method", "");
  if (method == "startSendingImages") StartSendingImages(action, context, payload);
  if (method == "stopSendingImages") StopSendingImages(context);
  if (method != "getDeviceStatus") return;
  m_statusAction = action;
  m_statusContext = context;
  // Later changes, of devices and of signals, are reported only while an inspector is open to show them.
  m_statusWanted = !m_openInspectors.empty();
  m_reportedSignals.clear();
  SendDeviceStatus();
  UpdateStateTimer();
}

void MyPaneloxPlugin::SendDeviceStatus() {
  json detected = json::array();
  for (int32_t d = 0; d < m_deviceManager.MaxDevices(); ++d) {
    if (m_deviceManager.DeviceDetected(d)) detected.push_back(DeviceDisplayName(d));
  }
  if (connectionManager) {
    connectionManager->SendToPropertyInspector(m_statusAction, m_statusContext,
                                               json{{"deviceStatus", {{"detected", std::move(detected)}}}});
  }
}

// ---- preview -------------------------------------------------------------------------------------------

void MyPaneloxPlugin::StartSendingImages(const std::string& action, const std::string& context, const json& payload) {
  SetInspectorTarget(action, context);
  m_imageWidth = ImageSizeMember(payload, "imageWidth", 224);
  m_imageHeight = ImageSizeMember(payload, "imageHeight", 126);
  m_previewWanted = true;
  TraceMessage(kTraceMessage, kTracePreview, L"preview start %dx%d", m_imageWidth, m_imageHeight);
  ShowInspectorKeyDevice();
  ApplyPreviewSize();
  m_deviceManager.SendImagesTo(&MyPaneloxPlugin::SendPreviewImage, this);
  RunPreviewGraph();
}

void MyPaneloxPlugin::StopSendingImages(const std::string& context) {
  // Images go to one inspector only; a request from another one leaves that one's preview running.
  if (!m_previewWanted || context != m_inspectorContext) return;
  TraceMessage(kTraceMessage, kTracePreview, L"preview stop");
  m_previewWanted = false;
  StopGraph();
}

bool MyPaneloxPlugin::PreviewImageFits(int64_t bmpBytes) {
  // Judged with identifiers of the allowance's length, since the key the images go to may change later.
  return ImageMessageBound(bmpBytes, kTargetAllowance, kTargetAllowance) <= kMaxHostMessageBytes;
}

void MyPaneloxPlugin::ApplyPreviewSize() {
  m_deviceManager.SetPreviewSize(m_imageWidth, m_imageHeight, &MyPaneloxPlugin::PreviewImageFits);
}

void MyPaneloxPlugin::ShowInspectorKeyDevice() {
  auto it = m_instances.find(m_inspectorContext);
  if (it == m_instances.end()) return;
  const int32_t d = it->second.deviceIndex;
  if (m_deviceManager.CurrentDevice() == d) return;
  // The preview follows the device under edit, so the key's device comes under edit as an edit would bring
  // it: the device edited so far gets its state back, and the key's device is remembered before any edit.
  // A device already under edit (its first edit does not open it) keeps the state read before that edit.
  const bool moves = m_previewDevice != d;
  MoveEditTo(d);
  m_deviceManager.OpenDevice(d);
  m_displays.FollowPresence();
  if (moves) m_displays.ReadForEdit(d);
  ShowChanges();
}

void MyPaneloxPlugin::RunPreviewGraph() {
  if (!m_deviceManager.GraphBuilt()) return;
  HRESULT hr = m_deviceManager.RunGraph();
  if (FAILED(hr)) {
    TraceMessage(kTraceError, kTracePreview, L"graph run: 0x%08X, trying again", static_cast<unsigned>(hr));
    hr = m_deviceManager.RunGraph();
  }
  TraceMessage(FAILED(hr) ? kTraceError : kTraceMessage, kTracePreview, L"graph run: 0x%08X",
               static_cast<unsigned>(hr));
}

void MyPaneloxPlugin::StopGraph() {
  if (!m_deviceManager.GraphBuilt()) return;
  const HRESULT hr = m_deviceManager.StopGraph();
  TraceMessage(FAILED(hr) ? kTraceError : kTraceMessage, kTracePreview, L"graph stop: 0x%08X",
               static_cast<unsigned>(hr));
}

void MyPaneloxPlugin::StopPreview() {
  m_deviceWatch.Stop();
  StopGraph();
  // Waits out a frame that was already in the frame path when the graph stopped.
  m_deviceManager.ChangePreview([] {});
  if (m_traceRegistered) {
    TraceMessage(kTraceMessage, kTraceHost, L"plug-in ends");
    TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    m_traceRegistered = false;
  }
}

void MyPaneloxPlugin::SendPreviewImage(std::vector<uint8_t>* bytes, void* context) {
  if (!context || !bytes) return;
  auto* self = static_cast<MyPaneloxPlugin*>(context);
  static thread_local StreamThreadTrace streamTrace;
  TraceMessage(kTraceDetail, kTracePreview, L"preview image %u bytes", static_cast<unsigned>(bytes->size()));
  PnxConnectionManager* connection = self->connectionManager;
  const int64_t bound = ImageMessageBound(static_cast<int64_t>(bytes->size()), self->m_imageAction.size(),
                                          self->m_imageContext.size());
  // A host that does not read would otherwise have every image queued for it, without limit.
  if (!connection || bound > kMaxHostMessageBytes ||
      static_cast<int64_t>(connection->UnsentBytes()) > kUnsentImageLimit * bound) {
    bytes->clear();
    return;
  }
  // Emptied first: the send raises the JSON library's error for a target that is not valid UTF-8, which
  // costs this image only (the frame path drops it).
  WriteImageDataPayload(self->m_imagePayload, bytes->data(), bytes->size());
  bytes->clear();
  connection->SendToPropertyInspectorText(self->m_imageAction, self->m_imageContext, self->m_imagePayload);
}
