// The capture devices as the plug-in's owners reach them: the device manager behind the DevicePort, and the
// preview's frame path, which sends each finished image to the inspector the plan names.
// Threads: everything but SendPreviewImage runs on the event loop. SendPreviewImage runs on the preview's
// streaming thread inside the manager's frame path (its preview lock held); it reads the connection (set
// before the loop runs) and the image target, which changes only inside the manager's ChangePreview, so a
// frame in progress never sees half a change. Key frames go from the streaming thread to the event loop
// through one mailbox (m_keyLock): the latest frame of each device waits there, and one posted task at a time
// tells the loop. The other devices' key captures run on streaming threads of their own and use the same
// mailbox; they are added and dropped only with the graph stopped, which waits for their frames in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "device/capture_device_manager.h"
#include "plugin/device_port.h"
#include "plugin/key_frame.h"

class PnxConnectionManager;

class CaptureDevices : public DevicePort {
 public:
  // Opens device 0 for the preview. `connection` is read when an image is ready; null drops the images.
  explicit CaptureDevices(PnxConnectionManager* const& connection);

  int32_t MaxDevices() const override { return m_manager.MaxDevices(); }
  bool DeviceDetected(int32_t device) const override { return m_manager.DeviceDetected(device); }
  int32_t DeviceCount() const override { return m_manager.DeviceCount(); }
  int32_t InputCount(int32_t device) const override;
  const std::vector<std::vector<bool>>& InputSignals() const override { return m_manager.InputSignals(); }
  std::vector<std::vector<bool>> QueryInputSignals() override { return m_manager.QueryInputSignals(); }
  bool LookForDevices(int32_t device) override;
  bool ReadMultiviewState(int32_t device, DeviceState& out) override;
  bool WriteMultiviewState(int32_t device, const DeviceState& state) override;
  bool SetMultiviewLayout(int32_t device, uint32_t layout) override;
  bool SetMultiviewSources(int32_t device, uint64_t sources) override;
  bool ShowPreview(const PreviewPlan& plan) override;

  // Stops the graph and waits until no frame is in the frame path.
  void Stop();

  // `ready` runs on the event loop after a key frame came; TakeKeyFrame then gives the latest one of a device
  // (false: none came since the last take; call it until false). Event loop.
  void OnKeyFrame(std::function<void()> ready) { m_keyFrameReady = std::move(ready); }
  bool TakeKeyFrame(KeyFrame& out);

 private:
  // The plug-in's image-ready callback: sends one finished BMP to the current target and empties bytes; the
  // image is dropped instead while the connection holds more than kUnsentImageLimit such messages unsent.
  // Streaming thread.
  static void SendPreviewImage(std::vector<uint8_t>* bytes, void* context);

  // The longest message a host built on the stock WebSocket library accepts; a longer one makes it close the
  // connection. A preview size whose image message could pass it (ImageMessageBound with identifiers of
  // kTargetAllowance bytes each) makes no image; an image whose actual target identifiers are longer is not
  // sent. About 2.66 million pixels fit (1920 x 1080 does, 2500 x 2500 does not).
  static constexpr int64_t kMaxHostMessageBytes = 32000000;
  static constexpr size_t kTargetAllowance = 256;
  // While the connection holds more unsent bytes than this many image messages (a host that has stopped
  // reading), images are skipped instead of queued.
  static constexpr int64_t kUnsentImageLimit = 2;
  static bool PreviewImageFits(int64_t bmpBytes);
  // The key frame callback: leaves the frame in the mailbox and posts the loop's task unless one is pending.
  // Streaming thread.
  static void KeepKeyFrame(const uint8_t* pixels, int32_t width, int32_t height, void* context);
  // The same for the key capture of another device (context: its KeyTarget).
  static void KeepOtherKeyFrame(const uint8_t* pixels, int32_t width, int32_t height, void* context);
  void Mail(int32_t device, const uint8_t* pixels, int32_t width, int32_t height);
  // Makes the other devices' key captures follow `devices` (empty: none); stops the graph when one changes.
  void FollowKeyDevices(const std::vector<int32_t>& devices);

  void RunGraph();
  void StopGraph();

  CaptureDeviceManager m_manager;
  PnxConnectionManager* const& m_connection;
  // What the graph follows now.
  bool m_running = false;
  bool m_imagesInstalled = false;
  int32_t m_width = 0;
  int32_t m_height = 0;

  // Frame path: the image target and the payload text, which keeps its storage from image to image.
  std::string m_imageAction;
  std::string m_imageContext;
  std::string m_imagePayload;

  // Key frames: whether the frame path makes them and of which device (changed inside ChangePreview), the
  // mailbox, and whether a task that will take it is posted.
  bool m_keyFrames = false;
  int32_t m_keyDevice = -1;
  std::function<void()> m_keyFrameReady;
  std::mutex m_keyLock;
  std::vector<KeyFrame> m_keyMail;  // [device]
  std::vector<bool> m_keyMailFull;
  // The other devices' key captures: the contexts their frames come with (one per device, fixed).
  struct KeyTarget {
    CaptureDevices* self;
    int32_t device;
  };
  std::vector<KeyTarget> m_keyTargets;
  std::atomic<bool> m_keyTaskPosted{false};
};
