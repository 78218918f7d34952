// The emulated device's test card through the real frame path (size learning, scaler, BMP): at the preview size
// the inspector asks for, every place keeps its colour where tests look, and the time code reads back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/capture_device_manager.h"
#include "platform/emulator/multiview_frame.h"
#include "tests/device/renderer/renderer_fakes.h"
#include "tests/device/test_card_reader.h"

namespace {

constexpr int32_t kPreviewWidth = 224;  // what the inspector page asks for, its only size
constexpr int32_t kPreviewHeight = 126;

emulator::Format Rgb24(int32_t width, int32_t height, bool topDown = false) {
  return emulator::Format{MEDIASUBTYPE_RGB24, "RGB24", width, height, topDown};
}

void KeepImage(std::vector<uint8_t>* bytes, void* context) { *static_cast<std::vector<uint8_t>*>(context) = *bytes; }

// One card frame, stamped with frameNumber and ms, made into a preview image by the manager; the image's
// pixels (packed, bottom-up), or nothing when no image was made.
std::vector<uint8_t> PreviewOf(const emulator::Format& format, const emulator::DeviceView& view,
                               uint64_t frameNumber, uint32_t ms) {
  std::vector<uint8_t> frame;
  emulator::DrawFrame(format, &view, &frame);
  emulator::StampFrame(format, &view, frameNumber, ms, frame.data());

  const MediaType type = renderer_test::MakeVideoType(format.width, emulator::BitmapHeight(format));
  CaptureDeviceManager manager(0);  // every frame
  std::vector<uint8_t> image;
  manager.SetPreviewSize(kPreviewWidth, kPreviewHeight);
  manager.SendImagesTo(&KeepImage, &image);
  CaptureDeviceManager::OnPreviewSample(frame.data(), static_cast<int32_t>(frame.size()), 0, 0, 0, 1, type.Get(),
                                        &manager);
  if (image.size() != 54u + static_cast<size_t>(kPreviewWidth) * kPreviewHeight * 3) return {};
  return std::vector<uint8_t>(image.begin() + 54, image.end());
}

emulator::DeviceView View(uint32_t layout, bool signal3 = true) {
  emulator::DeviceView view;
  view.layout = layout;
  view.sources = 0x4321;
  view.signal[2] = signal3;
  return view;
}

const std::string kRed = "255,0,0", kGreen = "0,255,0", kBlue = "0,0,255", kWhite = "255,255,255",
                  kBlack = "0,0,0";

// Each layout of the places, and each frame geometry (row order, size, padded rows), at least once.
TEST(TestCard, SurvivesScalingToThePreview) {
  const std::vector<std::string> grid{kRed, kGreen, kBlue, kWhite};
  const struct {
    const char* name;
    emulator::Format format;
    emulator::DeviceView view;
    std::vector<std::string> quadrants;
    uint32_t ms;  // the low 20 bits are sent; a higher bit must not spill into them
  } cases[] = {
      {"1920x1080 grid", Rgb24(1920, 1080), View(100), grid, 0},
      {"1920x1080 grid, input 3 without signal", Rgb24(1920, 1080), View(100, false),
       {kRed, kGreen, kBlack, kWhite}, 0xFFFFF},
      {"1920x1080 top-down grid", Rgb24(1920, 1080, true), View(100), grid, 0xA5A5A},
      {"1280x720 place 1 full frame", Rgb24(1280, 720), View(0), {kRed, kRed, kRed, kRed}, 0x712345},
      {"1366x768 grid, rows padded", Rgb24(1366, 768), View(100), grid, 0x12345},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> image = PreviewOf(c.format, c.view, c.ms % 97, c.ms);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(test_card::Quadrants(image.data(), kPreviewWidth, kPreviewHeight), c.quadrants);
    uint32_t read = 0;
    ASSERT_TRUE(test_card::ReadTimeCode(image.data(), kPreviewWidth, kPreviewHeight, &read));
    EXPECT_EQ(read, c.ms & 0xFFFFF);
  }
}

}  // namespace
