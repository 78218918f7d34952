// The emulated device's configuration text: parsing, installing it, drawing and stamping each node's frames
// and opening the configured devices through the device manager as the plug-in does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/capture_device_manager.h"
#include "platform/emulator/emulator.h"
#include "platform/emulator/emulator_state.h"
#include "platform/emulator/multiview_frame.h"
#include "platform/emulator_control.h"

namespace {

// Frames above this are left undrawn and their devices unopened: a valid configuration may ask for
// 8192 x 8192 frames, which says nothing new about parsing and costs seconds per input.
constexpr size_t kMaxFrameBytes = size_t{4} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  emulator::Configuration parsed;
  std::string error;
  const bool valid = emulator::ParseConfiguration(text, &parsed, &error);
  // The hook must agree with the parser, and an invalid text leaves no device at all.
  if (emulator::LoadConfigurationText(text) != valid) std::abort();
  const std::vector<std::wstring> names = emulator::VideoInputNodeNames();
  if (!valid && !names.empty()) std::abort();
  if (!valid) return 0;
  if (names.size() != parsed.nodes.size()) std::abort();

  bool small = true;
  std::vector<uint8_t> frame;
  for (const auto& node : parsed.nodes) {
    emulator::DeviceView view;
    const bool hasView = emulator::ReadDeviceView(node->deviceNumber, &view);
    for (const emulator::Format& format : node->formats) {
      const size_t bytes = emulator::FrameBytes(format);
      if (bytes > kMaxFrameBytes) {
        small = false;
        continue;
      }
      emulator::DrawFrame(format, hasView ? &view : nullptr, &frame);
      if (frame.size() != bytes) std::abort();
      // The moving part at any frame size and number, inside the frame (AddressSanitizer watches the edges).
      emulator::StampFrame(format, hasView ? &view : nullptr, size * 7919, static_cast<uint32_t>(size), frame.data());
    }
  }
  if (small) {
    const long liveBefore = PnxLiveComObjectCount();
    {
      CaptureDeviceManager manager;
      manager.OpenDevice(0);
      manager.QueryInputSignals();
      for (int32_t d = 0; d < manager.DeviceCount(); ++d) {
        DeviceState state;
        if (manager.ReadMultiviewState(d, state)) manager.WriteMultiviewState(d, state);
      }
      if (manager.DeviceCount() > 1) manager.OpenDevice(1);
    }
    if (PnxLiveComObjectCount() != liveBefore) std::abort();
  }
  return 0;
}
