// A Windows test program for the registered emulated device, run under wine by tools/wine-tests.sh.
// It uses only the system's DirectShow: lists the video input category, binds every node, and runs one
// node into a sample grabber, printing one line per finding to standard output for the test runner.
//   simdevice_probe list
//   simdevice_probe run <friendly name> <milliseconds>
#include <qedit.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/dshow.h"
#include "platform/vendor_properties.h"
#include "tools/simdevice/uncounted_com_object.h"

namespace {

// Not in mingw-w64's headers.
const GUID kClsidSampleGrabber = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const GUID kClsidNullRenderer = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

std::string Narrow(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

std::wstring Wide(const char* text) {
  int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], size);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

const char* SubtypeName(const GUID& subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return "RGB24";
  if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) return "YUY2";
  if (IsEqualGUID(subtype, MEDIASUBTYPE_MJPG)) return "MJPG";
  if (IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) return "NV12";
  return "other";
}

// Frees what GetStreamCaps and ConnectionMediaType hand out.
void FreeTypeBlock(AM_MEDIA_TYPE* type) {
  if (!type) return;
  if (type->cbFormat) CoTaskMemFree(type->pbFormat);
  if (type->pUnk) type->pUnk->Release();
  type->cbFormat = 0;
  type->pbFormat = nullptr;
  type->pUnk = nullptr;
}
void DeleteType(AM_MEDIA_TYPE* type) {
  FreeTypeBlock(type);
  CoTaskMemFree(type);
}

bool VideoSize(const AM_MEDIA_TYPE* type, LONG* width, LONG* height) {
  if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo) || type->cbFormat < sizeof(VIDEOINFOHEADER) ||
      !type->pbFormat)
    return false;
  const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
  *width = info->bmiHeader.biWidth;
  *height = info->bmiHeader.biHeight;
  return true;
}

struct Node {
  std::wstring name;
  ComPtr<IMoniker> moniker;
};

HRESULT ListNodes(std::vector<Node>* nodes) {
  ComPtr<ICreateDevEnum> devices;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                devices.ReceiveVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IEnumMoniker> monikers;
  hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
  std::printf("category hr=%ld enumerator=%s\n", static_cast<long>(hr), monikers ? "yes" : "null");
  if (hr != S_OK) return hr;
  for (;;) {
    Node node;
    if (monikers->Next(1, node.moniker.Receive(), nullptr) != S_OK) break;
    ComPtr<IPropertyBag> bag;
    hr = node.moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid());
    VARIANT name;
    VariantInit(&name);
    if (SUCCEEDED(hr)) hr = bag->Read(L"FriendlyName", &name, nullptr);
    if (SUCCEEDED(hr) && V_VT(&name) == VT_BSTR) node.name = V_BSTR(&name);
    VariantClear(&name);
    nodes->push_back(std::move(node));
  }
  return S_OK;
}

HRESULT FindPinByDirection(IBaseFilter* filter, ComPtr<IPin>* pin, PIN_DIRECTION wanted) {
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(pins.Receive());
  if (FAILED(hr)) return hr;
  ComPtr<IPin> candidate;
  while (pins->Next(1, candidate.Receive(), nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(candidate->QueryDirection(&direction)) && direction == wanted) {
      *pin = candidate;
      return S_OK;
    }
  }
  return E_FAIL;
}

// One line per node: its name, whether it binds, its signal, whether it controls the device, its formats.
int List() {
  std::vector<Node> nodes;
  HRESULT hr = ListNodes(&nodes);
  if (FAILED(hr)) return 1;
  for (size_t i = 0; i < nodes.size(); ++i) {
    ComPtr<IBaseFilter> filter;
    hr = nodes[i].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
    std::printf("node %u name=\"%s\" bind=%ld", static_cast<unsigned>(i), Narrow(nodes[i].name).c_str(),
                static_cast<long>(hr));
    if (FAILED(hr)) {
      std::printf("\n");
      continue;
    }
    ComPtr<IAMAnalogVideoDecoder> decoder;
    long locked = -1;
    if (SUCCEEDED(filter.As(IID_IAMAnalogVideoDecoder, &decoder))) decoder->get_HorizontalLocked(&locked);
    ComPtr<IKsPropertySet> properties;
    bool hasProperties = SUCCEEDED(filter.As(IID_IKsPropertySet, &properties));
    std::printf(" locked=%ld properties=%d formats=", locked, hasProperties ? 1 : 0);
    ComPtr<IPin> pin;
    ComPtr<IAMStreamConfig> config;
    int count = 0, size = 0;
    if (SUCCEEDED(FindPinByDirection(filter.Get(), &pin, PINDIR_OUTPUT)) &&
        SUCCEEDED(pin.As(IID_IAMStreamConfig, &config)) &&
        SUCCEEDED(config->GetNumberOfCapabilities(&count, &size))) {
      std::vector<BYTE> caps(static_cast<size_t>(size > 0 ? size : 1));
      for (int c = 0; c < count; ++c) {
        AM_MEDIA_TYPE* type = nullptr;
        if (FAILED(config->GetStreamCaps(c, &type, caps.data())) || !type) continue;
        LONG width = 0, height = 0;
        VideoSize(type, &width, &height);
        std::printf("%s%s:%ldx%ld", c ? "," : "", SubtypeName(type->subtype), width, height);
        DeleteType(type);
      }
    }
    std::printf("\n");
  }
  std::printf("nodes %u\n", static_cast<unsigned>(nodes.size()));
  return 0;
}

// Counts samples on the streaming thread and keeps a copy of the latest one.
// Lives on main's stack beyond the graph.
class FrameCounter final : public UncountedComObject<ISampleGrabberCB> {
 public:
  FrameCounter() : UncountedComObject(IID_ISampleGrabberCB) {}

  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) return S_OK;
    long length = sample->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT timeResult = sample->GetTime(&start, &stop);
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_frames;
    if (length > 0) m_last.assign(data, data + length);
    if (timeResult == S_OK && stop > start) ++m_timed;
    if (m_frames > 1 && timeResult == S_OK && start < m_lastStart) ++m_backwards;
    m_lastStart = start;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return S_OK; }

  std::mutex m_mutex;
  long m_frames = 0;
  long m_timed = 0;
  long m_backwards = 0;
  REFERENCE_TIME m_lastStart = 0;
  std::vector<BYTE> m_last;
};

void WaitPumping(DWORD milliseconds) {
  DWORD end = GetTickCount() + milliseconds;
  for (;;) {
    DWORD now = GetTickCount();
    if (static_cast<LONG>(end - now) <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

// The colour at the centre of each quadrant of a bottom-up RGB24 frame, in reading order.
void PrintQuadrants(const std::vector<BYTE>& frame, LONG width, LONG height) {
  std::printf("quadrants");
  if (width <= 0 || height <= 0 || frame.size() < static_cast<size_t>(width) * height * 3) {
    std::printf(" none\n");
    return;
  }
  const LONG xs[2] = {width / 4, width * 3 / 4};
  const LONG ys[2] = {height / 4, height * 3 / 4};  // from the top
  for (LONG y : ys) {
    for (LONG x : xs) {
      size_t row = static_cast<size_t>(height - 1 - y);  // stored bottom row first
      const BYTE* pixel = &frame[(row * width + x) * 3];
      std::printf(" %u,%u,%u", pixel[2], pixel[1], pixel[0]);  // BGR in memory
    }
  }
  std::printf("\n");
}

void ExerciseProperties(IBaseFilter* filter) {
  ComPtr<IKsPropertySet> properties;
  if (FAILED(filter->QueryInterface(IID_IKsPropertySet, properties.ReceiveVoid()))) {
    std::printf("properties none\n");
    return;
  }
  BYTE sources[8] = {0x21, 0x43, 0, 0, 0, 0, 0, 0};
  HRESULT hr = properties->Set(vendor::kPropertySet, vendor::kMultiviewSources, nullptr, 0, sources, sizeof(sources));
  std::printf("set 632 hr=%ld\n", static_cast<long>(hr));
  DWORD layout = 0;
  hr = properties->Set(vendor::kPropertySet, vendor::kMultiviewLayout, nullptr, 0, &layout, sizeof(layout));
  std::printf("set 631 hr=%ld\n", static_cast<long>(hr));
  BYTE read[8] = {};
  DWORD returned = 0;
  hr = properties->Get(vendor::kPropertySet, vendor::kMultiviewSources, nullptr, 0, read, sizeof(read), &returned);
  std::printf("get 632 hr=%ld data=%02x%02x%02x%02x%02x%02x%02x%02x\n", static_cast<long>(hr), read[0],
              read[1], read[2], read[3], read[4], read[5], read[6], read[7]);
  // Back to the 2x2 grid so that the frames show all four places.
  layout = 100;
  properties->Set(vendor::kPropertySet, vendor::kMultiviewLayout, nullptr, 0, &layout, sizeof(layout));
}

// Builds source -> sample grabber -> null renderer the way the product builds its graph: the last RGB24
// capability applied, then a direct connection.
int Run(const std::wstring& wanted, DWORD milliseconds) {
  std::vector<Node> nodes;
  if (FAILED(ListNodes(&nodes))) return 1;
  ComPtr<IMoniker> moniker;
  for (Node& node : nodes) {
    if (node.name == wanted) moniker = node.moniker;
  }
  if (!moniker) {
    std::printf("run node not found\n");
    return 1;
  }
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IBaseFilter> source, grabberFilter, renderer;
  ComPtr<ISampleGrabber> grabber;
  ComPtr<IMediaControl> control;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.ReceiveVoid());
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                          builder.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = builder->SetFiltergraph(graph.Get());
  if (SUCCEEDED(hr)) hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = graph->AddFilter(source.Get(), wanted.c_str());
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          grabberFilter.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = graph->AddFilter(grabberFilter.Get(), L"Grabber");
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          renderer.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = graph->AddFilter(renderer.Get(), L"Null");
  if (SUCCEEDED(hr)) hr = graph.As(IID_IMediaControl, &control);
  if (SUCCEEDED(hr)) hr = grabberFilter.As(IID_ISampleGrabber, &grabber);
  std::printf("graph hr=%ld\n", static_cast<long>(hr));
  if (FAILED(hr)) return 1;

  ComPtr<IPin> out;
  hr = builder->FindPin(source.Get(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, out.Receive());
  std::printf("findpin hr=%ld\n", static_cast<long>(hr));
  if (FAILED(hr)) return 1;
  ComPtr<IAMStreamConfig> config;
  int count = 0, size = 0;
  hr = out.As(IID_IAMStreamConfig, &config);
  if (SUCCEEDED(hr)) hr = config->GetNumberOfCapabilities(&count, &size);
  std::vector<BYTE> caps(static_cast<size_t>(size > 0 ? size : 1));
  for (int c = 0; SUCCEEDED(hr) && c < count; ++c) {
    AM_MEDIA_TYPE* type = nullptr;
    if (FAILED(config->GetStreamCaps(c, &type, caps.data())) || !type) continue;
    if (IsEqualGUID(type->subtype, MEDIASUBTYPE_RGB24)) {
      hr = config->SetFormat(type);
      std::printf("setformat %d hr=%ld\n", c, static_cast<long>(hr));
    }
    DeleteType(type);
  }
  if (FAILED(hr)) return 1;

  FrameCounter counter;
  grabber->SetBufferSamples(FALSE);
  grabber->SetOneShot(FALSE);
  grabber->SetCallback(&counter, 0);
  ComPtr<IPin> grabberIn, grabberOut, rendererIn;
  hr = FindPinByDirection(grabberFilter.Get(), &grabberIn, PINDIR_INPUT);
  if (SUCCEEDED(hr)) hr = FindPinByDirection(grabberFilter.Get(), &grabberOut, PINDIR_OUTPUT);
  if (SUCCEEDED(hr)) hr = FindPinByDirection(renderer.Get(), &rendererIn, PINDIR_INPUT);
  if (SUCCEEDED(hr)) {
    hr = graph->ConnectDirect(out.Get(), grabberIn.Get(), nullptr);
    std::printf("connect source hr=%ld\n", static_cast<long>(hr));
  }
  if (SUCCEEDED(hr)) {
    hr = graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr);
    std::printf("connect renderer hr=%ld\n", static_cast<long>(hr));
  }
  if (FAILED(hr)) return 1;
  AM_MEDIA_TYPE connected = {};
  LONG width = 0, height = 0;
  if (SUCCEEDED(grabberIn->ConnectionMediaType(&connected))) {
    VideoSize(&connected, &width, &height);
    std::printf("connection %s %ldx%ld samplesize=%lu\n", SubtypeName(connected.subtype), width, height,
                static_cast<unsigned long>(connected.lSampleSize));
    FreeTypeBlock(&connected);
  }

  ExerciseProperties(source.Get());

  hr = control->Run();
  std::printf("run hr=%ld\n", static_cast<long>(hr));
  if (FAILED(hr)) return 1;
  WaitPumping(milliseconds);
  hr = control->Stop();
  std::printf("stop hr=%ld\n", static_cast<long>(hr));
  grabber->SetCallback(nullptr, 0);
  std::lock_guard<std::mutex> lock(counter.m_mutex);
  std::printf("frames %ld timed %ld backwards %ld bytes %u\n", counter.m_frames, counter.m_timed,
              counter.m_backwards, static_cast<unsigned>(counter.m_last.size()));
  PrintQuadrants(counter.m_last, width, height < 0 ? -height : height);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int result = 2;
  if (argc == 2 && std::strcmp(argv[1], "list") == 0) {
    result = List();
  } else if (argc == 4 && std::strcmp(argv[1], "run") == 0) {
    result = Run(Wide(argv[2]), static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
  }
  std::fflush(stdout);
  CoUninitialize();
  return result;
}
