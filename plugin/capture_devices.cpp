// The capture devices behind the DevicePort, and the preview images' way to the inspector.
#include "plugin/capture_devices.h"

#include <algorithm>

#include "host/pnx_connection_manager.h"
#include "plugin/image_data_message.h"
#include "trace/trace.h"
#include "trace/trace_contexts.h"

namespace {

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

}  // namespace

CaptureDevices::CaptureDevices(PnxConnectionManager* const& connection) : m_connection(connection) {
  // The second call is a second full attempt only when the first one failed.
  m_manager.OpenDevice(0);
  m_manager.OpenDevice(0);
  const size_t devices = static_cast<size_t>(std::max(m_manager.MaxDevices(), 1));
  m_keyMail.resize(devices);
  m_keyMailFull.assign(devices, false);
  for (size_t d = 0; d < devices; ++d) m_keyTargets.push_back(KeyTarget{this, static_cast<int32_t>(d)});
}

int32_t CaptureDevices::InputCount(int32_t device) const {
  const auto& counts = m_manager.InputCounts();
  return device >= 0 && static_cast<size_t>(device) < counts.size() ? counts[static_cast<size_t>(device)] : 0;
}

bool CaptureDevices::LookForDevices(int32_t device) {
  if (!m_manager.LookForDevices(device >= 0 ? device : std::max(m_manager.CurrentDevice(), 0))) return false;
  // Everything was bound anew, the graph stopped.
  m_running = false;
  return true;
}

bool CaptureDevices::ReadMultiviewState(int32_t device, DeviceState& out) {
  return m_manager.ReadMultiviewState(device, out);
}

bool CaptureDevices::WriteMultiviewState(int32_t device, const DeviceState& state) {
  return m_manager.WriteMultiviewState(device, state);
}

bool CaptureDevices::SetMultiviewLayout(int32_t device, uint32_t layout) {
  return m_manager.SetMultiviewLayout(device, layout);
}

bool CaptureDevices::SetMultiviewSources(int32_t device, uint64_t sources) {
  return m_manager.SetMultiviewSources(device, sources);
}

bool CaptureDevices::ShowPreview(const PreviewPlan& plan) {
  if (plan.action != m_imageAction || plan.context != m_imageContext) {
    m_manager.ChangePreview([&] {
      m_imageAction = plan.action;
      m_imageContext = plan.context;
    });
  }
  if (plan.keyPictures != m_keyFrames) {
    m_manager.SendKeyFramesTo(plan.keyPictures ? &CaptureDevices::KeepKeyFrame : nullptr, this, kKeyPictureSide,
                              kKeyPictureSide);
    m_keyFrames = plan.keyPictures;
  }
  if (!plan.run) {
    if (m_running) {
      TraceMessage(kTraceMessage, kTracePreview, L"preview stop");
      StopGraph();
    }
    FollowKeyDevices({});
    return false;
  }
  bool rebound = false;
  if (plan.device >= 0 && m_manager.CurrentDevice() != plan.device) {
    // Building the graph around another device stops it and binds the devices anew.
    m_manager.OpenDevice(plan.device);
    m_running = false;
    rebound = true;
  }
  // Only this thread writes the device, so it is read here without the lock.
  if (m_keyFrames && m_keyDevice != m_manager.CurrentDevice()) {
    m_manager.ChangePreview([&] { m_keyDevice = m_manager.CurrentDevice(); });
  }
  if (!m_running || plan.width != m_width || plan.height != m_height) {
    m_width = plan.width;
    m_height = plan.height;
    m_manager.SetPreviewSize(m_width, m_height, &CaptureDevices::PreviewImageFits);
  }
  if (!m_imagesInstalled) {
    m_manager.SendImagesTo(&CaptureDevices::SendPreviewImage, this);
    m_imagesInstalled = true;
  }
  std::vector<int32_t> others;
  for (int32_t d : plan.keyDevices) {
    if (d != m_manager.CurrentDevice() && m_manager.DeviceDetected(d)) others.push_back(d);
  }
  FollowKeyDevices(others);
  if (!m_running) RunGraph();
  return rebound;
}

void CaptureDevices::FollowKeyDevices(const std::vector<int32_t>& devices) {
  const std::vector<int32_t> now = m_manager.KeyCaptureDevices();
  bool same = now.size() == devices.size();
  for (int32_t d : devices) same = same && std::find(now.begin(), now.end(), d) != now.end();
  if (same) return;
  // Sinks join and leave a stopped graph only; the plan runs it again.
  if (m_running) StopGraph();
  for (int32_t d : now) {
    if (std::find(devices.begin(), devices.end(), d) == devices.end()) m_manager.RemoveKeyCapture(d);
  }
  for (int32_t d : devices) {
    if (d < 0 || static_cast<size_t>(d) >= m_keyTargets.size()) continue;
    if (m_manager.AddKeyCapture(d, &CaptureDevices::KeepOtherKeyFrame, &m_keyTargets[static_cast<size_t>(d)],
                                kKeyPictureSide, kKeyPictureSide)) {
      TraceMessage(kTraceMessage, kTracePreview, L"key capture of device %d", d);
    }
  }
}

void CaptureDevices::RunGraph() {
  if (!m_manager.GraphBuilt()) return;
  HRESULT hr = m_manager.RunGraph();
  if (FAILED(hr)) {
    TraceMessage(kTraceError, kTracePreview, L"graph run: 0x%08X, trying again", static_cast<unsigned>(hr));
    hr = m_manager.RunGraph();
  }
  TraceMessage(FAILED(hr) ? kTraceError : kTraceMessage, kTracePreview, L"graph run: 0x%08X",
               static_cast<unsigned>(hr));
  // A graph that would not run is not asked again until the plan changes.
  m_running = true;
}

void CaptureDevices::StopGraph() {
  m_running = false;
  if (!m_manager.GraphBuilt()) return;
  const HRESULT hr = m_manager.StopGraph();
  TraceMessage(FAILED(hr) ? kTraceError : kTraceMessage, kTracePreview, L"graph stop: 0x%08X",
               static_cast<unsigned>(hr));
}

void CaptureDevices::Stop() {
  StopGraph();
  FollowKeyDevices({});
  // Waits out a frame that was already in the frame path when the graph stopped.
  m_manager.ChangePreview([] {});
}

bool CaptureDevices::PreviewImageFits(int64_t bmpBytes) {
  // Judged with identifiers of the allowance's length, since the key the images go to may change later.
  return ImageMessageBound(bmpBytes, kTargetAllowance, kTargetAllowance) <= kMaxHostMessageBytes;
}

void CaptureDevices::SendPreviewImage(std::vector<uint8_t>* bytes, void* context) {
  if (!context || !bytes) return;
  auto* self = static_cast<CaptureDevices*>(context);
  static thread_local StreamThreadTrace streamTrace;
  TraceMessage(kTraceDetail, kTracePreview, L"preview image %u bytes", static_cast<unsigned>(bytes->size()));
  PnxConnectionManager* connection = self->m_connection;
  const int64_t bound = ImageMessageBound(static_cast<int64_t>(bytes->size()), self->m_imageAction.size(),
                                          self->m_imageContext.size());
  // A host that does not read would otherwise have every image queued for it, without limit.
  if (!connection || self->m_imageContext.empty() || bound > kMaxHostMessageBytes ||
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

void CaptureDevices::KeepKeyFrame(const uint8_t* pixels, int32_t width, int32_t height, void* context) {
  if (!context || !pixels) return;
  auto* self = static_cast<CaptureDevices*>(context);
  self->Mail(self->m_keyDevice, pixels, width, height);
}

void CaptureDevices::KeepOtherKeyFrame(const uint8_t* pixels, int32_t width, int32_t height, void* context) {
  if (!context || !pixels) return;
  const auto* target = static_cast<const KeyTarget*>(context);
  target->self->Mail(target->device, pixels, width, height);
}

void CaptureDevices::Mail(int32_t device, const uint8_t* pixels, int32_t width, int32_t height) {
  PnxConnectionManager* connection = m_connection;
  if (!connection || device < 0 || static_cast<size_t>(device) >= m_keyMail.size()) return;
  {
    std::lock_guard<std::mutex> hold(m_keyLock);
    KeyFrame& mail = m_keyMail[static_cast<size_t>(device)];
    mail.device = device;
    mail.width = width;
    mail.height = height;
    mail.pixels.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    mail.captured = std::chrono::steady_clock::now();
    m_keyMailFull[static_cast<size_t>(device)] = true;
  }
  // One task at a time: a loop that is behind takes the latest frames once, not every frame it missed.
  if (m_keyTaskPosted.exchange(true)) return;
  const bool posted = connection->Post([this] {
    m_keyTaskPosted = false;
    if (m_keyFrameReady) m_keyFrameReady();
  });
  if (!posted) m_keyTaskPosted = false;
}

bool CaptureDevices::TakeKeyFrame(KeyFrame& out) {
  std::lock_guard<std::mutex> hold(m_keyLock);
  for (size_t d = 0; d < m_keyMail.size(); ++d) {
    if (!m_keyMailFull[d]) continue;
    m_keyMailFull[d] = false;
    std::swap(out, m_keyMail[d]);
    return true;
  }
  return false;
}
