// KeyCapture: the key pictures' own sink for a device other than the preview's.
#include "device/key_capture.h"

#include <string>

#include "device/capture_device_manager.h"
#include "device/image_scaler.h"
#include "device/renderer/sink_filter.h"

KeyCapture::KeyCapture(int32_t device, int32_t rate, KeyFrameCallback callback, void* context, int32_t boxWidth,
                       int32_t boxHeight)
    : m_device(device),
      m_rate(rate),
      m_callback(callback),
      m_context(context),
      m_boxWidth(boxWidth),
      m_boxHeight(boxHeight) {}

KeyCapture::~KeyCapture() { Unhook(); }

void KeyCapture::Unhook() {
  if (!m_sink) return;
  ComPtr<INorvexSink> norvex;
  if (SUCCEEDED(m_sink.As(IID_INorvexSink, &norvex))) norvex->SetSampleCallback(nullptr, nullptr);
  // A frame that passed the sink's lock before the callback went has left by now; this waits for one that
  // is still inside the frame path.
  std::lock_guard<std::mutex> hold(m_frameLock);
}

HRESULT KeyCapture::Connect(IFilterGraph2* graph, ICaptureGraphBuilder2* builder, IBaseFilter* source) {
  if (!graph || !builder || !source) return E_POINTER;
  // The new filter starts at count 0; the query takes this capture's reference.
  SinkFilter* filter = new SinkFilter();
  HRESULT hr = filter->NonDelegatingQueryInterface(IID_IBaseFilter, m_sink.ReceiveVoid());
  if (FAILED(hr)) return hr;
  std::basic_string<OLECHAR> name;
  for (const char* c = "Key Sink "; *c; ++c) name.push_back(static_cast<OLECHAR>(*c));
  name.push_back(static_cast<OLECHAR>('0' + m_device % 10));
  hr = graph->AddFilter(m_sink.Get(), name.c_str());
  if (FAILED(hr)) return hr;
  ComPtr<INorvexSink> norvex;
  hr = m_sink.As(IID_INorvexSink, &norvex);
  if (FAILED(hr)) return hr;
  norvex->SetStreamThreadName("KeySink");
  ComPtr<IPin> output;
  hr = builder->FindPin(source, PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, output.Receive());
  if (FAILED(hr)) return hr;
  ComPtr<IPin> input;
  hr = builder->FindPin(m_sink.Get(), PINDIR_INPUT, nullptr, nullptr, FALSE, 0, input.Receive());
  if (FAILED(hr)) return hr;
  hr = graph->ConnectDirect(output.Get(), input.Get(), nullptr);
  if (FAILED(hr)) hr = graph->Connect(output.Get(), input.Get());
  if (FAILED(hr)) return hr;
  return norvex->SetSampleCallback(&KeyCapture::OnSample, this);
}

void KeyCapture::Disconnect(IFilterGraph2* graph) {
  Unhook();
  if (graph && m_sink) graph->RemoveFilter(m_sink.Get());
  m_sink.Reset();
}

int32_t KeyCapture::OnSample(const uint8_t* data, int32_t length, int64_t /*start*/, int64_t /*duration*/,
                             int32_t /*discontinuity*/, int32_t /*syncPoint*/, const AM_MEDIA_TYPE* mediaType,
                             void* context) {
  if (!context) return 0;
  auto* self = static_cast<KeyCapture*>(context);
  // As on the preview's path: whatever goes wrong below costs this frame and nothing else.
  try {
    std::lock_guard<std::mutex> hold(self->m_frameLock);
    self->Forward(data, length, mediaType);
  } catch (...) {
  }
  return 0;
}

void KeyCapture::Forward(const uint8_t* data, int32_t length, const AM_MEDIA_TYPE* mediaType) {
  // The same rules as the preview's frame path: a type announces the format of the frames after it, and an
  // unusable one stops the frames until the next usable one.
  if (mediaType && !CaptureDeviceManager::ReadFrameFormat(mediaType, &m_sourceWidth, &m_sourceHeight,
                                                          &m_sourceTopDown)) {
    m_sourceWidth = 0;
    m_sourceHeight = 0;
  }
  if (m_sourceWidth == 0 || m_sourceHeight == 0 || !data || !m_callback) return;
  const int32_t skip = m_rate > 0 ? 60 / m_rate : 0;
  if (m_counter < skip) {
    ++m_counter;
    return;
  }
  m_counter = 0;
  const int64_t stride = CaptureDeviceManager::SourceStride(m_sourceWidth);
  if (length < stride * (m_sourceHeight - 1) + int64_t{m_sourceWidth} * 3) return;
  int32_t width = 0;
  int32_t height = 0;
  CaptureDeviceManager::FitInto(m_sourceWidth, m_sourceHeight, m_boxWidth, m_boxHeight, &width, &height);
  const int64_t bytes = CaptureDeviceManager::ImageBytes(width, height);
  if (bytes < 0) return;
  m_keyBuffer.resize(static_cast<size_t>(bytes));
  const uint8_t* topRow = m_sourceTopDown ? data : data + stride * (m_sourceHeight - 1);
  const int32_t rowStep = static_cast<int32_t>(m_sourceTopDown ? stride : -stride);
  if (ScaleImageBgr24(topRow, rowStep, m_sourceWidth, m_sourceHeight, m_keyBuffer.data(), width * 3, width,
                      height) > 0) {
    m_callback(m_keyBuffer.data(), width, height, m_context);
  }
}
