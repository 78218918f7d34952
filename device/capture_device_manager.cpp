// CaptureDeviceManager: discovery, the capture graph and the vendor control properties (control thread only).
#include "device/capture_device_manager.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "device/renderer/sink_filter.h"
#include "platform/media_type.h"
#include "platform/vendor_properties.h"
#include "trace/trace.h"
#include "trace/trace_contexts.h"

namespace {

using OleString = std::basic_string<OLECHAR>;

// The names this code makes are plain ASCII; widening them keeps the comparison in UTF-16 code units on
// every platform, whatever OLECHAR is.
OleString ToOle(const char* text) {
  OleString out;
  for (; *text; ++text) out.push_back(static_cast<OLECHAR>(static_cast<unsigned char>(*text)));
  return out;
}

// Owns a VARIANT read from a property bag; clears it (and its BSTR) on every path.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&m_value); }
  ~ScopedVariant() { VariantClear(&m_value); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* Get() { return &m_value; }

 private:
  VARIANT m_value;
};

constexpr int kInputsPerDevice = 4;
constexpr size_t kCandidateNameChars = 50;

// The friendly name of input `input` (1..4) of device index `device`.
OleString CandidateName(int device, int input) {
  char name[kCandidateNameChars];
  if (device == 0) {
    std::snprintf(name, sizeof name, "Brelvon HDMI-%d / Multiview", input);
  } else {
    std::snprintf(name, sizeof name, "Brelvon %d HDMI-%d / Multiview", device + 1, input);
  }
  return ToOle(name);
}

bool StartsWith(const OleString& text, const OleString& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

HRESULT GetProperty(IKsPropertySet* set, DWORD id, void* value, DWORD size, int device) {
  DWORD returned = 0;
  const HRESULT hr = set->Get(vendor::kPropertySet, id, nullptr, 0, value, size, &returned);
  TraceMessage(FAILED(hr) ? kTraceError : kTraceMessage, kTraceDevice, L"device %d: get %u: 0x%08X", device,
               static_cast<unsigned>(id), static_cast<unsigned>(hr));
  return hr;
}

HRESULT SetProperty(IKsPropertySet* set, DWORD id, void* value, DWORD size, int device) {
  const HRESULT hr = set->Set(vendor::kPropertySet, id, nullptr, 0, value, size);
  TraceMessage(FAILED(hr) ? kTraceError : kTraceMessage, kTraceDevice, L"device %d: set %u: 0x%08X", device,
               static_cast<unsigned>(id), static_cast<unsigned>(hr));
  return hr;
}

// The FriendlyName of a node; false when it has none.
bool ReadFriendlyName(IMoniker* moniker, OleString& name) {
  ComPtr<IPropertyBag> bag;
  HRESULT hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid());
  if (FAILED(hr)) return false;
  ScopedVariant value;
  hr = bag->Read(ToOle("FriendlyName").c_str(), value.Get(), nullptr);
  if (FAILED(hr) || value.Get()->vt != VT_BSTR || !value.Get()->bstrVal) return false;
  name.assign(value.Get()->bstrVal, SysStringLen(value.Get()->bstrVal));
  return true;
}

// The system's video input nodes; null when there are none or they cannot be listed.
ComPtr<IEnumMoniker> VideoInputNodes() {
  ComPtr<ICreateDevEnum> deviceEnum;
  ComPtr<IEnumMoniker> monikers;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                deviceEnum.ReceiveVoid());
  if (FAILED(hr)) return monikers;
  // S_FALSE here means an empty category, with no enumerator.
  hr = deviceEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
  if (hr != S_OK) monikers.Reset();
  return monikers;
}

// The names of the video input nodes that start with the brand, in the system's order.
std::vector<OleString> BrandedNodeNames() {
  std::vector<OleString> names;
  ComPtr<IEnumMoniker> monikers = VideoInputNodes();
  if (!monikers) return names;
  const OleString brand = ToOle("Brelvon");
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
    OleString name;
    if (ReadFriendlyName(moniker.Get(), name) && StartsWith(name, brand)) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

CaptureDeviceManager::CaptureDeviceManager(int32_t previewRate) : m_previewRate(previewRate) {
  // Only a successful initialisation (S_OK, or S_FALSE when the thread already had it) is balanced later;
  // uninitialising after a refusal would take COM away from whoever initialised the thread.
  m_comInitialized = SUCCEEDED(CoInitialize(nullptr));
}

CaptureDeviceManager::~CaptureDeviceManager() {
  // No frame may reach this manager once it starts going away, whatever the graph does.
  if (m_sink) {
    ComPtr<INorvexSink> norvex;
    if (SUCCEEDED(m_sink.As(IID_INorvexSink, &norvex))) norvex->SetSampleCallback(nullptr, nullptr);
  }
  ChangePreview([this] {
    m_frameCallback = nullptr;
    m_frameContext = nullptr;
    m_imageReadyCallback = nullptr;
    m_imageReadyContext = nullptr;
    m_previewBuffer.reset();
    m_previewBufferSize = 0;
    std::vector<uint8_t>().swap(m_bmpBytes);
  });
  CloseGraph();
  m_mediaControl.Reset();
  m_sink.Reset();
  m_propertySets.clear();
  m_sourceFilters.clear();
  m_inputSignals.clear();
  m_inputCounts.clear();
  if (m_comInitialized) CoUninitialize();
}

bool CaptureDeviceManager::OpenDevice(int device) {
  if (device == m_currentDevice && m_deviceConnected) return true;
  if (m_graph && m_captureBuilder) CloseGraph();
  m_deviceConnected = false;

  HRESULT hr = BuildGraph();
  if (FAILED(hr)) return OpenFailed(device, L"build the graph", hr);
  if (!EnumerateDevices()) return true;

  if (device < 0 || static_cast<size_t>(device) >= m_sourceFilters.size() ||
      m_sourceFilters[device].empty()) {
    return false;
  }
  ComPtr<IBaseFilter> source = m_sourceFilters[device][0];
  if (!source) return true;

  hr = CreateSink();
  if (FAILED(hr)) return OpenFailed(device, L"make the preview sink", hr);
  hr = AskForRgb24(source.Get());
  if (FAILED(hr)) return OpenFailed(device, L"ask for the RGB24 format", hr);
  hr = ConnectSink(source.Get());
  if (FAILED(hr)) return OpenFailed(device, L"connect the sink", hr);

  m_currentDevice = device;
  m_deviceConnected = true;
  return true;
}

bool CaptureDeviceManager::OpenFailed(int device, const wchar_t* step, HRESULT hr) {
  TraceMessage(kTraceError, kTraceDevice, L"device %d could not be opened: %ls: 0x%08X", device, step,
               static_cast<unsigned>(hr));
  return false;
}

HRESULT CaptureDeviceManager::BuildGraph() {
  ComPtr<ICaptureGraphBuilder2> builder;
  HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICaptureGraphBuilder2, builder.ReceiveVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IFilterGraph2> graph;
  hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                        graph.ReceiveVoid());
  if (FAILED(hr)) return hr;
  builder->SetFiltergraph(graph.Get());
  m_captureBuilder = std::move(builder);
  m_graph = std::move(graph);
  return m_graph.As(IID_IMediaControl, &m_mediaControl);
}

HRESULT CaptureDeviceManager::AskForRgb24(IBaseFilter* source) {
  // Ask the source for packed 24-bit RGB: the frame path scales nothing else.
  ComPtr<IPin> output;
  HRESULT hr = m_captureBuilder->FindPin(source, PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, output.Receive());
  if (FAILED(hr)) return hr;
  ComPtr<IAMStreamConfig> config;
  hr = output.As(IID_IAMStreamConfig, &config);
  if (FAILED(hr)) return hr;
  int capabilityCount = 0;
  int capabilitySize = 0;
  hr = config->GetNumberOfCapabilities(&capabilityCount, &capabilitySize);
  if (FAILED(hr)) return hr;
  // The caller passes a buffer of the size the pin names; never smaller than the structure it fills.
  std::vector<BYTE> caps(std::max<size_t>(capabilitySize > 0 ? static_cast<size_t>(capabilitySize) : 0,
                                          sizeof(VIDEO_STREAM_CONFIG_CAPS)));
  for (int i = 0; i < capabilityCount; ++i) {
    MediaTypePtr type;
    hr = config->GetStreamCaps(i, type.Receive(), caps.data());
    if (FAILED(hr) || !type) continue;
    if (type->subtype != MEDIASUBTYPE_RGB24) continue;
    // Every RGB24 entry is applied in turn, so the last one stays in force.
    hr = config->SetFormat(type.Get());
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CaptureDeviceManager::ConnectSink(IBaseFilter* source) {
  ComPtr<IPin> output;
  HRESULT hr = m_captureBuilder->FindPin(source, PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, output.Receive());
  if (FAILED(hr)) return hr;
  ComPtr<IPin> input;
  hr = m_captureBuilder->FindPin(m_sink.Get(), PINDIR_INPUT, nullptr, nullptr, FALSE, 0, input.Receive());
  if (FAILED(hr)) return hr;
  hr = m_graph->ConnectDirect(output.Get(), input.Get(), nullptr);
  if (FAILED(hr)) hr = m_graph->Connect(output.Get(), input.Get());
  return hr;
}

bool CaptureDeviceManager::EnumerateDevices() {
  ComPtr<IEnumMoniker> monikers = VideoInputNodes();
  if (!monikers) return false;
  HRESULT hr = S_OK;

  m_deviceCount = 0;
  m_inputCounts.clear();
  m_nodeNames.clear();

  const OleString brand = ToOle("Brelvon");
  bool found = false;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
    OleString name;
    if (!ReadFriendlyName(moniker.Get(), name)) continue;
    if (!StartsWith(name, brand)) continue;
    m_nodeNames.push_back(name);

    // A name may be the leading part of several candidates; it is bound into each of their empty slots.
    for (int d = 0; d < m_maxDevices; ++d) {
      for (int n = 1; n <= kInputsPerDevice; ++n) {
        const OleString candidate = CandidateName(d, n);
        if (!StartsWith(candidate, name)) continue;
        if (m_sourceFilters.size() < static_cast<size_t>(d) + 1) m_sourceFilters.resize(d + 1);
        std::vector<ComPtr<IBaseFilter>>& slots = m_sourceFilters[d];
        if (slots.size() < static_cast<size_t>(n)) slots.resize(n);
        ComPtr<IBaseFilter>& slot = slots[n - 1];
        if (slot) continue;

        hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, slot.ReceiveVoid());
        if (FAILED(hr) || !slot) {
          slot.Reset();
          continue;
        }
        m_graph->AddFilter(slot.Get(), candidate.c_str());
        found = true;
        if (m_inputCounts.size() < static_cast<size_t>(d) + 1) m_inputCounts.resize(d + 1, 0);
        ++m_inputCounts[d];

        if (n == 1) {
          ComPtr<IKsPropertySet> propertySet;
          if (SUCCEEDED(slot.As(IID_IKsPropertySet, &propertySet))) {
            if (m_propertySets.size() < static_cast<size_t>(d) + 1) m_propertySets.resize(d + 1);
            m_propertySets[d] = std::move(propertySet);
          }
          ++m_deviceCount;
        }
      }
    }
  }
  return found;
}

HRESULT CaptureDeviceManager::CreateSink() {
  m_sink.Reset();
  // A new sink may be fed by another device with another frame size: learn it again from its first frame.
  ChangePreview([this] {
    m_sourceWidth = 0;
    m_sourceHeight = 0;
    m_sourceTopDown = false;
  });

  // The new filter starts at count 0; the query takes this manager's reference.
  SinkFilter* filter = new SinkFilter();
  HRESULT hr = filter->NonDelegatingQueryInterface(IID_IBaseFilter, m_sink.ReceiveVoid());
  if (FAILED(hr)) return hr;
  hr = m_graph->AddFilter(m_sink.Get(), ToOle("Video Sink").c_str());
  if (FAILED(hr)) return hr;

  ComPtr<INorvexSink> norvex;
  hr = m_sink.As(IID_INorvexSink, &norvex);
  if (FAILED(hr)) return hr;
  norvex->SetStreamThreadName("VideoSink");
  return norvex->SetSampleCallback(&CaptureDeviceManager::OnPreviewSample, this);
}

void RemoveAllFilters(IFilterGraph* graph) {
  ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(filters.Receive())) || !filters) return;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.Receive(), nullptr) == S_OK) {
    // After a removal the graph has changed under the enumerator: start the walk again. A filter the graph
    // keeps leaves it unchanged, and starting again would meet that filter first for ever: walk on past it.
    if (SUCCEEDED(graph->RemoveFilter(filter.Get()))) filters->Reset();
  }
}

HRESULT CaptureDeviceManager::RunGraph() {
  return m_mediaControl ? m_mediaControl->Run() : E_POINTER;
}

HRESULT CaptureDeviceManager::StopGraph() {
  return m_mediaControl ? m_mediaControl->Stop() : E_POINTER;
}

void CaptureDeviceManager::CloseGraph() {
  if (!m_graph || !m_captureBuilder) return;
  if (m_mediaControl) m_mediaControl->Stop();
  // The key captures go with the graph: each waits for a frame of its own in progress.
  for (std::unique_ptr<KeyCapture>& capture : m_keyCaptures) capture->Disconnect(m_graph.Get());
  m_keyCaptures.clear();
  // Whatever the graph did with the stop (a filter of a device that went away may refuse it), the sink of a
  // closed graph feeds the preview no more: a rebuilt graph's new sink is the only one with the callback. This
  // waits for a frame in progress.
  if (m_sink) {
    ComPtr<INorvexSink> norvex;
    if (SUCCEEDED(m_sink.As(IID_INorvexSink, &norvex))) norvex->SetSampleCallback(nullptr, nullptr);
  }
  m_deviceConnected = false;

  RemoveAllFilters(m_graph.Get());

  // Every bound slot is released, also slots beyond a device's count (a gap in its inputs) and slots of a
  // device without an HDMI-1 node: a filter left behind would keep its slot from the next enumeration.
  for (std::vector<ComPtr<IBaseFilter>>& slots : m_sourceFilters) {
    for (ComPtr<IBaseFilter>& slot : slots) slot.Reset();
  }

  m_graph.Reset();
  m_captureBuilder.Reset();
}

bool CaptureDeviceManager::LookForDevices(int device) {
  if (BrandedNodeNames() == m_nodeNames) return false;
  // Everything of the earlier enumeration goes: a removed device's filters answer nothing any more.
  CloseGraph();
  for (std::vector<ComPtr<IBaseFilter>>& slots : m_sourceFilters) {
    for (ComPtr<IBaseFilter>& slot : slots) slot.Reset();
  }
  m_propertySets.clear();
  m_deviceCount = 0;
  m_inputCounts.clear();
  m_nodeNames.clear();
  m_deviceConnected = false;
  const bool connected = OpenDevice(device);
  TraceMessage(kTraceMessage, kTraceDevice, L"devices changed: %d found, device %d %ls", m_deviceCount, device,
               DeviceDetected(device) && connected ? L"on the preview" : L"absent");
  return true;
}

bool CaptureDeviceManager::DeviceDetected(int device) const {
  return device >= 0 && static_cast<size_t>(device) < m_sourceFilters.size() &&
         !m_sourceFilters[device].empty() && m_sourceFilters[device][0];
}

std::vector<std::vector<bool>> CaptureDeviceManager::QueryInputSignals() {
  for (int d = 0; d < m_maxDevices; ++d) {
    if (static_cast<size_t>(d) >= m_sourceFilters.size()) continue;
    const std::vector<ComPtr<IBaseFilter>>& slots = m_sourceFilters[d];
    for (int k = 0; k < kInputsPerDevice; ++k) {
      // A slot that was never grown is treated like an empty one.
      if (static_cast<size_t>(k) >= slots.size() || !slots[k]) continue;
      if (m_inputSignals.size() < static_cast<size_t>(d) + 1) m_inputSignals.resize(d + 1);
      std::vector<bool>& bits = m_inputSignals[d];
      if (bits.size() < static_cast<size_t>(k) + 1) bits.resize(k + 1, false);

      // An input that cannot tell is taken to have a signal.
      LONG locked = 1;
      ComPtr<IAMAnalogVideoDecoder> decoder;
      if (SUCCEEDED(slots[k].As(IID_IAMAnalogVideoDecoder, &decoder))) decoder->get_HorizontalLocked(&locked);
      bits[k] = locked != 0;
    }
  }
  return m_inputSignals;
}

IKsPropertySet* CaptureDeviceManager::PropertySet(int device) const {
  if (device < 0 || static_cast<size_t>(device) >= m_propertySets.size()) return nullptr;
  return m_propertySets[device].Get();
}

bool CaptureDeviceManager::ReadMultiviewState(int device, DeviceState& out) {
  IKsPropertySet* set = PropertySet(device);
  if (!set) return false;
  std::array<uint8_t, vendor::kSourcesBytes> sources{};
  if (FAILED(GetProperty(set, vendor::kMultiviewSources, sources.data(), vendor::kSourcesBytes, device))) return false;
  uint32_t layout = 0;
  if (FAILED(GetProperty(set, vendor::kMultiviewLayout, &layout, sizeof layout, device))) return false;
  out.sources = vendor::SourcesFromBytes(sources.data());
  out.layout = layout;
  out.stateRead = true;
  return true;
}

bool CaptureDeviceManager::WriteMultiviewState(int device, const DeviceState& state) {
  IKsPropertySet* set = PropertySet(device);
  if (!set) return false;
  std::array<uint8_t, vendor::kSourcesBytes> sources = vendor::SourcesToBytes(state.sources);
  if (FAILED(SetProperty(set, vendor::kMultiviewSources, sources.data(), vendor::kSourcesBytes, device))) return false;
  uint32_t layout = state.layout;
  return SUCCEEDED(SetProperty(set, vendor::kMultiviewLayout, &layout, sizeof layout, device));
}

bool CaptureDeviceManager::SetMultiviewLayout(int32_t device, uint32_t layout) {
  IKsPropertySet* set = PropertySet(device);
  if (!set) return false;
  uint32_t value = layout;
  const HRESULT hr = SetProperty(set, vendor::kMultiviewLayout, &value, sizeof value, device);
  // The device expects this read after every layout write; what it reports is not used.
  uint32_t postLayout = 0;
  GetProperty(set, vendor::kPostLayoutRead, &postLayout, sizeof postLayout, device);
  return SUCCEEDED(hr);
}

bool CaptureDeviceManager::SetMultiviewSources(int32_t device, uint64_t sources) {
  IKsPropertySet* set = PropertySet(device);
  if (!set) return false;
  std::array<uint8_t, vendor::kSourcesBytes> bytes = vendor::SourcesToBytes(sources);
  return SUCCEEDED(SetProperty(set, vendor::kMultiviewSources, bytes.data(), vendor::kSourcesBytes, device));
}

bool CaptureDeviceManager::AddKeyCapture(int32_t device, KeyFrameCallback callback, void* context,
                                         int32_t boxWidth, int32_t boxHeight) {
  if (!m_graph || !m_captureBuilder || !DeviceDetected(device)) return false;
  if (device == m_currentDevice && m_deviceConnected) return false;
  for (const std::unique_ptr<KeyCapture>& capture : m_keyCaptures) {
    if (capture->Device() == device) return true;
  }
  IBaseFilter* source = m_sourceFilters[static_cast<size_t>(device)][0].Get();
  auto capture = std::make_unique<KeyCapture>(device, m_previewRate, callback, context, boxWidth, boxHeight);
  HRESULT hr = AskForRgb24(source);
  if (SUCCEEDED(hr)) hr = capture->Connect(m_graph.Get(), m_captureBuilder.Get(), source);
  if (FAILED(hr)) {
    capture->Disconnect(m_graph.Get());
    return OpenFailed(device, L"connect a key sink", hr);
  }
  m_keyCaptures.push_back(std::move(capture));
  return true;
}

void CaptureDeviceManager::RemoveKeyCapture(int32_t device) {
  for (auto it = m_keyCaptures.begin(); it != m_keyCaptures.end(); ++it) {
    if ((*it)->Device() != device) continue;
    (*it)->Disconnect(m_graph.Get());
    m_keyCaptures.erase(it);
    return;
  }
}

std::vector<int32_t> CaptureDeviceManager::KeyCaptureDevices() const {
  std::vector<int32_t> devices;
  for (const std::unique_ptr<KeyCapture>& capture : m_keyCaptures) devices.push_back(capture->Device());
  return devices;
}
