// CaptureDeviceManager: finds the Brelvon capture devices, binds their input nodes into one filter graph,
// controls them through the vendor property set and turns preview frames into small BMP images.
//
// Threads: every operation runs on the thread that constructed the manager (COM is initialised there as a
// single-threaded apartment), except the frame path - OnPreviewSample and ScaleFrameToBmp - which runs on
// the capture pin's streaming thread inside the renderer's callback lock and calls the image-ready callback.
// The hand-over: the frame path's fields change only under m_previewLock, which a frame holds from its first
// byte to the end of its image-ready callback (SetPreviewSize, SendImagesTo and ChangePreview take it). So a
// frame never sees a buffer of one size with another size, and whatever the image-ready callback reads that
// the control thread changes must be changed inside ChangePreview too.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/device_state.h"
#include "device/image_scaler.h"
#include "device/key_capture.h"
#include "device/renderer/norvex_sink.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"

// Called with every forwarded frame: the renderer's sample buffer (valid only during the call), its byte
// count, and the context installed beside the callback.
using FrameCallback = void (*)(const uint8_t* data, int32_t length, void* context);
// Called with m_bmpBytes holding one finished image. The callee may read or empty the vector but must not
// keep a pointer into it: the next image rewrites it.
using ImageReadyCallback = void (*)(std::vector<uint8_t>* bytes, void* context);
// KeyFrameCallback (key_capture.h) is called with every forwarded frame fitted into the key picture's box:
// packed BGR24, top row first, rows width x 3 bytes apart, valid only during the call.

class CaptureDeviceManager {
 public:
  // Largest frame or preview side, in pixels, that the frame path accepts; with it every byte count of an
  // image (width x height x 3) fits in 32 bits.
  static constexpr int32_t kMaxImageSide = kMaxScaleDimension;

  // Initialises COM (single-threaded apartment) on the calling thread. previewRate paces the preview (60 /
  // rate frames are skipped between two forwarded ones); tests pass 0 to see every frame.
  explicit CaptureDeviceManager(int32_t previewRate = 10);
  // Takes the preview callback off the sink, frees the preview fields, closes the graph, releases every
  // reference and uninitialises COM. Call on the constructing thread.
  ~CaptureDeviceManager();

  CaptureDeviceManager(const CaptureDeviceManager&) = delete;
  CaptureDeviceManager& operator=(const CaptureDeviceManager&) = delete;

  // Makes `device` the device whose HDMI-1 node feeds the preview sink, rebuilding the graph (stopped).
  // Returns true at once while that device is connected; true also when nothing was found to connect.
  bool OpenDevice(int device);
  // Stops the graph, takes the callback off its sink (waiting for a frame in progress), removes every filter
  // and releases the bound source filters.
  void CloseGraph();
  // Looks at the system's video input nodes again. When the Brelvon nodes are the ones bound now, nothing is
  // touched and the result is false; otherwise everything is bound anew with `device` (when present) on the
  // sink, the graph stopped, and the result is true.
  bool LookForDevices(int device);
  // True when device index `device` had its HDMI-1 node bound by the last enumeration.
  bool DeviceDetected(int device) const;
  // What the last enumeration bound: devices with their HDMI-1 node, input nodes per device; the device last
  // connected to the sink (-1 when none); how many devices are looked for.
  int32_t DeviceCount() const { return m_deviceCount; }
  const std::vector<int32_t>& InputCounts() const { return m_inputCounts; }
  int32_t CurrentDevice() const { return m_currentDevice; }
  int32_t MaxDevices() const { return m_maxDevices; }
  // The signal bits of the last QueryInputSignals.
  const std::vector<std::vector<bool>>& InputSignals() const { return m_inputSignals; }
  // Reads the signal lock of every bound input. Entry d is device d's list, bit k its input k+1; a missing
  // or empty slot keeps its earlier bit (or none).
  std::vector<std::vector<bool>> QueryInputSignals();

  // The vendor property set: all return false when the device has no property set or a write fails.
  // ReadMultiviewState reads what the device shows now (632, then 631): true with both values in `out` when
  // both reads succeeded; `out` is left as it was otherwise. WriteMultiviewState writes a whole state back
  // (632, then 631). SetMultiviewLayout writes 631 and then makes the read of 25 that the device expects after
  // every layout write; SetMultiviewSources writes 632 (sources packed as vendor::PackSources makes them).
  bool ReadMultiviewState(int device, DeviceState& out);
  bool WriteMultiviewState(int device, const DeviceState& state);
  bool SetMultiviewLayout(int32_t device, uint32_t layout);
  bool SetMultiviewSources(int32_t device, uint64_t sources);

  // The frame path. OnPreviewSample is the renderer's sample callback (context: this manager): it learns the
  // frame size, lets one frame in seven through to m_frameCallback and returns 1 when it did. The size and row
  // order come from the media type of every sample that has one (the renderer hands over the connection type
  // with the first sample, and a capture pin that changes its format mid-stream attaches the new type to the
  // first sample of the new format). A type is usable when it is uncompressed 24-bit RGB with a whole
  // VIDEOINFOHEADER or VIDEOINFOHEADER2 and sides within kMaxImageSide (either row order); it holds for the
  // samples after it until the next type, and is forgotten when a new sink is made (another device may send
  // another size). While no usable type holds (none yet, or the last one was unusable), samples are dropped
  // without counting. Nothing thrown below it leaves it; such a frame is dropped.
  static int32_t OnPreviewSample(const uint8_t* data, int32_t length, int64_t start, int64_t duration,
                                 int32_t discontinuity, int32_t syncPoint, const AM_MEDIA_TYPE* mediaType,
                                 void* context);
  // The frame callback the plug-in installs (context: this manager): scales the frame into m_previewBuffer
  // and packs it as a BMP image into m_bmpBytes, then calls m_imageReadyCallback; then, while a key frame
  // callback is installed, makes the key frame (see SendKeyFramesTo) and calls that. The frame's rows lie
  // SourceStride(m_sourceWidth) bytes apart; the image's rows are packed and bottom-up whatever the frame's order.
  static void ScaleFrameToBmp(const uint8_t* data, int32_t length, void* context);
  // Bytes from one row of a 24-bit frame of `width` pixels to the next: width x 3 rounded up to a multiple of 4.
  static int64_t SourceStride(int32_t width);
  // width x height x 3, or -1 when either side is outside 1..kMaxImageSide (no image is made for it).
  static int64_t ImageBytes(int32_t width, int32_t height);

  // The preview's operations, for the control thread.
  // Images are made width x height from now on, in a scaled-image buffer made to match. The byte count is
  // formed in 64 bits, and the buffer is made outside the lock before anything changes: when it cannot be had,
  // the preview keeps its previous, consistent state (the allocation error leaves this call). A size that
  // makes no image - a side outside 1..kMaxImageSide, or a BMP image of a byte count that `fits` refuses -
  // keeps no buffer, and the answer is false.
  using ImageFits = bool (*)(int64_t bmpBytes);
  bool SetPreviewSize(int32_t width, int32_t height, ImageFits fits = nullptr);
  // Every forwarded frame is scaled and packed by ScaleFrameToBmp and handed to `callback` with `context`.
  void SendImagesTo(ImageReadyCallback callback, void* context);
  // Every forwarded frame is also fitted into boxWidth x boxHeight (its aspect kept) and handed to `callback`
  // (null: none), from the same read of the frame as the preview image: made from the preview image when that
  // is at least as large, else from the frame. Starts the frame path as SendImagesTo does.
  void SendKeyFramesTo(KeyFrameCallback callback, void* context, int32_t boxWidth, int32_t boxHeight);
  // The size a source of width x height takes fitted into the box (both sides at least 1).
  static void FitInto(int32_t width, int32_t height, int32_t boxWidth, int32_t boxHeight, int32_t* outWidth,
                      int32_t* outHeight);
  // Key captures: device `device` (bound, not the preview's) also feeds `callback` with `context` through a
  // sink of its own in this graph, its frames fitted into the box as SendKeyFramesTo does. Call with the graph
  // stopped. A rebinding (OpenDevice of another device, LookForDevices that finds a change, CloseGraph) drops
  // every key capture. Answers false when the device cannot be captured.
  bool AddKeyCapture(int32_t device, KeyFrameCallback callback, void* context, int32_t boxWidth,
                     int32_t boxHeight);
  // Takes the key capture of `device` out (graph stopped), waiting for a frame in progress.
  void RemoveKeyCapture(int32_t device);
  // The devices that have a key capture now, in the order they were added.
  std::vector<int32_t> KeyCaptureDevices() const;
  // Reads a sample's media type: true with the frame's sides and row order when it is uncompressed 24-bit RGB
  // with a whole VIDEOINFOHEADER or VIDEOINFOHEADER2 and sides within kMaxImageSide; the outputs stay as they
  // were otherwise.
  static bool ReadFrameFormat(const AM_MEDIA_TYPE* mediaType, int32_t* width, int32_t* height, bool* topDown);
  // The graph's Run and Stop, answering their result; there is nothing to run before a graph is built.
  bool GraphBuilt() const { return static_cast<bool>(m_mediaControl); }
  HRESULT RunGraph();
  HRESULT StopGraph();
  // The frame size learned from the last usable media type (0 while none). Read it where the frame path's
  // lock is held: inside an image-ready callback or a ChangePreview.
  int32_t SourceWidth() const { return m_sourceWidth; }
  int32_t SourceHeight() const { return m_sourceHeight; }
  // The preview sink of the present graph (null before the first build).
  IBaseFilter* Sink() const { return m_sink.Get(); }

  // Runs change() while no frame is in the frame path, and holds frames off until it returns: for what the
  // image-ready callback reads that the control thread changes; with an empty change() it waits out a frame
  // in progress. Never call it from inside a frame or image-ready callback (the lock is not recursive), and
  // change() must neither wait for the streaming thread (no Stop of the graph) nor call into the sink (the
  // streaming thread holds the sink's callback lock while it waits for this one).
  template <class Change>
  void ChangePreview(Change&& change) {
    std::lock_guard<std::mutex> hold(m_previewLock);
    change();
  }


 private:
  // The steps of OpenDevice, each answering the result of the call that failed (S_OK when none did).
  HRESULT BuildGraph();
  bool EnumerateDevices();
  HRESULT CreateSink();
  HRESULT AskForRgb24(IBaseFilter* source);
  HRESULT ConnectSink(IBaseFilter* source);
  // The trail of a failed open: one error line naming the step and its result (the diagnostic log shows it
  // when switched on); answers false.
  static bool OpenFailed(int device, const wchar_t* step, HRESULT hr);
  // The property set of `device`, or null when there is none.
  IKsPropertySet* PropertySet(int device) const;
  // Frame path helpers; m_previewLock is held.
  int32_t ForwardSample(const uint8_t* data, int32_t length, const AM_MEDIA_TYPE* mediaType);
  bool LearnSourceSize(const AM_MEDIA_TYPE* mediaType);
  // The preview image of the frame at data (rows `stride` apart, in the learned order), handed on.
  void ScaleToPreview(const uint8_t* data, int64_t stride);
  // The key frame of the frame at data (rows `stride` apart, in the learned order), or of the preview image.
  void MakeKeyFrame(const uint8_t* data, int64_t stride);

  // The frame path's fields (m_sourceWidth .. m_previewFresh, and m_sourceTopDown) change only under
  // m_previewLock; the rest belong to the control thread.
  std::vector<std::vector<ComPtr<IBaseFilter>>> m_sourceFilters;  // [device][slot]; null = empty slot
  std::vector<ComPtr<IKsPropertySet>> m_propertySets;             // of each device's HDMI-1 node
  std::vector<std::vector<bool>> m_inputSignals;                  // at the last QueryInputSignals
  int32_t m_sourceWidth = 0;                                      // learned anew for every sink
  int32_t m_sourceHeight = 0;
  ComPtr<IFilterGraph2> m_graph;
  ComPtr<ICaptureGraphBuilder2> m_captureBuilder;
  ComPtr<IMediaControl> m_mediaControl;
  ComPtr<IBaseFilter> m_sink;
  int32_t m_maxDevices = 4;
  int32_t m_deviceCount = 0;           // devices whose HDMI-1 node was bound by the last enumeration
  std::vector<int32_t> m_inputCounts;  // input nodes bound per device by the last enumeration
  int32_t m_currentDevice = -1;        // device last connected to the sink; -1 when none
  int32_t m_previewRate = 10;          // 60 / rate frames are skipped between two forwarded ones
  int32_t m_previewCounter = 0;
  FrameCallback m_frameCallback = nullptr;
  void* m_frameContext = nullptr;
  int32_t m_previewBufferSize = 0;  // must equal m_previewWidth x m_previewHeight x 3 for an image
  std::unique_ptr<uint8_t[]> m_previewBuffer;
  std::vector<uint8_t> m_bmpBytes;  // the latest image; keeps its storage from image to image
  int32_t m_previewWidth = 0;
  int32_t m_previewHeight = 0;
  ImageReadyCallback m_imageReadyCallback = nullptr;
  void* m_imageReadyContext = nullptr;
  KeyFrameCallback m_keyFrameCallback = nullptr;
  void* m_keyFrameContext = nullptr;
  int32_t m_keyBoxWidth = 0;
  int32_t m_keyBoxHeight = 0;
  std::vector<uint8_t> m_keyBuffer;  // the latest key frame; keeps its storage
  bool m_previewFresh = false;       // the preview buffer holds the frame in progress
  // The learned frames store their top row first (negative height).
  bool m_sourceTopDown = false;
  // The Brelvon node names the last enumeration saw, in its order.
  std::vector<std::basic_string<OLECHAR>> m_nodeNames;
  // The key captures of devices other than the preview's (control thread).
  std::vector<std::unique_ptr<KeyCapture>> m_keyCaptures;
  // True while m_currentDevice is connected to the sink in the present graph.
  bool m_deviceConnected = false;
  bool m_comInitialized = false;
  std::mutex m_previewLock;
};

// Removes every filter from graph, in the order the graph lists them. A filter that the graph refuses to
// remove is passed over, so the walk ends however the graph answers.
void RemoveAllFilters(IFilterGraph* graph);
