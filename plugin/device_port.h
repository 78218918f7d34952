// What the plug-in's owners need of the capture devices: presence, inputs and signals, the multiview
// properties, and the preview graph as one plan. CaptureDevices serves it over the real device manager; the
// tests give a recording fake. Event-loop thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_state.h"

// What the preview graph should do: run on `device` (-1: the device it has) and send images of width x
// height to the inspector of `context` (none while it is empty), and with keyPictures hand its frames to the
// picture keys; or stand still. While it runs, every device in keyDevices (never `device`) is captured too, by
// a capture of its own, and its frames go to the picture keys.
struct PreviewPlan {
  bool run = false;
  bool keyPictures = false;
  int32_t device = -1;
  std::vector<int32_t> keyDevices;
  std::string action;
  std::string context;
  int32_t width = 0;
  int32_t height = 0;
};

class DevicePort {
 public:
  virtual ~DevicePort() = default;

  // How many devices are looked for; whether device `device` was bound by the last enumeration; how many
  // were; its input count (0 when not known).
  virtual int32_t MaxDevices() const = 0;
  virtual bool DeviceDetected(int32_t device) const = 0;
  virtual int32_t DeviceCount() const = 0;
  virtual int32_t InputCount(int32_t device) const = 0;
  // The signal locks of the last QueryInputSignals (entry d: device d, bit k: input k+1), and a fresh read.
  virtual const std::vector<std::vector<bool>>& InputSignals() const = 0;
  virtual std::vector<std::vector<bool>> QueryInputSignals() = 0;
  // Looks at the system's devices again, keeping `device` on the preview: true when what is bound changed
  // (the graph then stands still until the next plan that runs it).
  virtual bool LookForDevices(int32_t device) = 0;

  // The multiview properties: false when the device has no property set or the request failed.
  virtual bool ReadMultiviewState(int32_t device, DeviceState& out) = 0;
  virtual bool WriteMultiviewState(int32_t device, const DeviceState& state) = 0;
  virtual bool SetMultiviewLayout(int32_t device, uint32_t layout) = 0;
  virtual bool SetMultiviewSources(int32_t device, uint64_t sources) = 0;

  // Makes the graph follow `plan`, doing only what differs from the plan it follows now. True when it bound
  // the devices anew on the way (their presence may have changed).
  virtual bool ShowPreview(const PreviewPlan& plan) = 0;
};
