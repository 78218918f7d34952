// KeyCapture: a second sink in the manager's graph that feeds the key pictures of one device other than the
// preview's, so that picture keys of several devices at once each get their own device's frames.
//
// Threads: made, started and dropped on the manager's control thread; OnSample runs on this sink's own
// streaming thread. Everything the frame path uses is fixed before the callback is installed, except the
// learned frame size and the frame counter, which only the frame path touches (under m_frameLock, which also
// lets the control thread wait out a frame in progress). The sink's callback is taken off before the capture
// goes, which waits for a frame inside it.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "device/renderer/norvex_sink.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"

using KeyFrameCallback = void (*)(const uint8_t* pixels, int32_t width, int32_t height, void* context);

class KeyCapture {
 public:
  // Frames go to callback(context) fitted into boxWidth x boxHeight; 60 / rate frames are skipped between two
  // forwarded ones (0: none).
  KeyCapture(int32_t device, int32_t rate, KeyFrameCallback callback, void* context, int32_t boxWidth,
             int32_t boxHeight);
  // Takes the callback off the sink (waiting for a frame in progress).
  ~KeyCapture();
  KeyCapture(const KeyCapture&) = delete;
  KeyCapture& operator=(const KeyCapture&) = delete;

  // Makes the sink, adds it to `graph` and connects `output` (the device's capture pin, graph stopped) to it.
  HRESULT Connect(IFilterGraph2* graph, ICaptureGraphBuilder2* builder, IBaseFilter* source);
  // Takes the callback off and the sink out of `graph` (stopped).
  void Disconnect(IFilterGraph2* graph);
  int32_t Device() const { return m_device; }

 private:
  static int32_t OnSample(const uint8_t* data, int32_t length, int64_t start, int64_t duration,
                          int32_t discontinuity, int32_t syncPoint, const AM_MEDIA_TYPE* mediaType, void* context);
  void Forward(const uint8_t* data, int32_t length, const AM_MEDIA_TYPE* mediaType);
  void Unhook();

  const int32_t m_device;
  const int32_t m_rate;
  const KeyFrameCallback m_callback;
  void* const m_context;
  const int32_t m_boxWidth;
  const int32_t m_boxHeight;
  ComPtr<IBaseFilter> m_sink;
  // The frame path's own fields (m_frameLock).
  std::mutex m_frameLock;
  int32_t m_sourceWidth = 0;
  int32_t m_sourceHeight = 0;
  bool m_sourceTopDown = false;
  int32_t m_counter = 0;
  std::vector<uint8_t> m_keyBuffer;
};
