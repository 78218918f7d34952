// The manager's frame path: pacing, learning the frame size, refusals, BMP images and the hand-over.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "device/capture_device_manager.h"

namespace {

// A media type with a VIDEOINFOHEADER format block; it points into itself, so it stays where it is made.
struct VideoType {
  VIDEOINFOHEADER info{};
  AM_MEDIA_TYPE type{};
  VideoType(int32_t width, int32_t height) {
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.formattype = FORMAT_VideoInfo;
    type.cbFormat = sizeof info;
    type.pbFormat = reinterpret_cast<BYTE*>(&info);
  }
  VideoType(const VideoType&) = delete;
  VideoType& operator=(const VideoType&) = delete;
};

int32_t Deliver(CaptureDeviceManager& manager, const std::vector<uint8_t>& frame, const AM_MEDIA_TYPE* type) {
  return CaptureDeviceManager::OnPreviewSample(frame.data(), static_cast<int32_t>(frame.size()), 0, 0, 0, 1,
                                               type, &manager);
}

struct ImageLog {
  int images = 0;
  std::vector<uint8_t> last;
};

void KeepImage(std::vector<uint8_t>* bytes, void* context) {
  auto* log = static_cast<ImageLog*>(context);
  ++log->images;
  log->last = *bytes;
  bytes->clear();
}

void InstallBmpPath(CaptureDeviceManager& manager, ImageLog* log) { manager.SendImagesTo(&KeepImage, log); }

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

// Every seventh frame is forwarded; without a callback the seventh is not forwarded but the count starts over.
TEST(PreviewPacing, ForwardsTheSeventhFrameOfEverySeven) {
  CaptureDeviceManager manager;
  ImageLog images;
  manager.SetPreviewSize(4, 2);
  VideoType type(4, 2);
  std::vector<uint8_t> frame(4 * 3 * 2);
  for (const bool withCallback : {false, true}) {
    if (withCallback) InstallBmpPath(manager, &images);
    std::vector<int> forwarded;
    for (int i = 1; i <= 14; ++i) {
      if (Deliver(manager, frame, i == 1 ? &type.type : nullptr) == 1) forwarded.push_back(i);
    }
    EXPECT_EQ(forwarded, (withCallback ? std::vector<int>{7, 14} : std::vector<int>{}));
  }
  EXPECT_EQ(images.images, 2);
  EXPECT_EQ(CaptureDeviceManager::OnPreviewSample(frame.data(), 24, 0, 0, 0, 0, &type.type, nullptr), 0);
}

// Media types that must teach no size; while none is known every frame is dropped, uncounted.
TEST(PreviewSourceSize, UnusableTypesTeachNothingAndDropTheFrame) {
  struct Case {
    const char* name;
    void (*spoil)(VideoType&);
    bool nullType;
  };
  const Case cases[] = {
      {"no media type", [](VideoType&) {}, true},
      {"another format type",
       [](VideoType& t) { t.type.formattype = GUID{0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}}; }, false},
      {"format block too short", [](VideoType& t) { t.type.cbFormat = sizeof(VIDEOINFOHEADER) - 1; }, false},
      {"RGB24 subtype stating 32 bits", [](VideoType& t) { t.info.bmiHeader.biBitCount = 32; }, false},
      {"compressed rows", [](VideoType& t) { t.info.bmiHeader.biCompression = 0x47504a4d; }, false},
      {"VIDEOINFOHEADER2 type with a VIDEOINFOHEADER's length",
       [](VideoType& t) { t.type.formattype = FORMAT_VideoInfo2; }, false},
      {"most negative height", [](VideoType& t) { t.info.bmiHeader.biHeight = INT32_MIN; }, false},
      {"absurd width", [](VideoType& t) { t.info.bmiHeader.biWidth = CaptureDeviceManager::kMaxImageSide + 1; },
       false},
      {"byte count beyond 32 bits", [](VideoType& t) { t.info.bmiHeader.biWidth = t.info.bmiHeader.biHeight = 0x7FFFFFFF; },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureDeviceManager manager;
    ImageLog images;
    InstallBmpPath(manager, &images);
    manager.SetPreviewSize(8, 4);
    VideoType type(1920, 1080);
    c.spoil(type);
    const std::vector<uint8_t> frame(8 * 3 * 4);
    for (int i = 0; i < 14; ++i) EXPECT_EQ(Deliver(manager, frame, c.nullType ? nullptr : &type.type), 0);

    // A usable type afterwards is learned and holds for the untyped samples after it, and pacing starts
    // from there: the dropped frames were not counted.
    VideoType good(8, 4);
    for (int i = 1; i <= 7; ++i) EXPECT_EQ(Deliver(manager, frame, i == 1 ? &good.type : nullptr), i == 7 ? 1 : 0) << i;
    EXPECT_EQ(images.images, 1);
  }
}

// A capture pin that changes its format mid-stream attaches the new type to the first sample of the new
// format only. Every picture row here is one grey level and the row padding is 0xEE, so a frame read with
// another format's stride shows padding or shifted rows, and one read in the wrong row order shows its rows
// reversed; a frame shorter than the size in force makes no image.
TEST(PreviewSourceSize, ATypeMidStreamHoldsForTheFramesAfterIt) {
  struct Step {
    const char* name;
    int32_t typeWidth;   // 0: the first sample carries an unusable type (32-bit RGB)
    bool topDown;
    bool makesImages;
  };
  const Step steps[] = {
      {"connection type, rows padded", 10, false, true},
      {"narrower frames", 8, false, true},
      {"wider again", 10, false, true},
      {"the row order changes", 10, true, true},
      {"an unusable type", 0, false, false},
      {"a usable type after it", 8, true, true},
  };
  const int32_t height = 4;
  auto level = [](int32_t row) { return static_cast<uint8_t>(0x10 + 0x20 * row); };  // row from the top
  std::vector<uint8_t> expected;  // 8x4, bottom-up
  for (int32_t y = height - 1; y >= 0; --y) expected.insert(expected.end(), 8 * 3, level(y));

  CaptureDeviceManager manager(0);  // every frame is forwarded
  ImageLog images;
  InstallBmpPath(manager, &images);
  manager.SetPreviewSize(8, height);
  int32_t width = 10;
  bool topDown = false;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    VideoType type(step.typeWidth, step.topDown ? -height : height);
    if (step.typeWidth == 0) {
      type.info.bmiHeader.biWidth = width;
      type.info.bmiHeader.biBitCount = 32;
    } else {
      width = step.typeWidth;
      topDown = step.topDown;
    }
    const size_t stride = static_cast<size_t>(CaptureDeviceManager::SourceStride(width));
    std::vector<uint8_t> frame(stride * height, 0xEE);
    for (int32_t y = 0; y < height; ++y) {
      const size_t row = static_cast<size_t>(topDown ? y : height - 1 - y) * stride;
      std::fill(frame.begin() + row, frame.begin() + row + width * 3, level(y));
    }
    for (int i = 0; i < 3; ++i) {
      images.images = 0;
      images.last.clear();
      Deliver(manager, frame, i == 0 ? &type.type : nullptr);
      ASSERT_EQ(images.images, step.makesImages ? 1 : 0) << "sample " << i;
      if (step.makesImages) {
        EXPECT_EQ(std::vector<uint8_t>(images.last.begin() + 54, images.last.end()), expected) << "sample " << i;
      }
    }
  }
}

// The layouts a capture pin may deliver 24-bit frames in. Scaled to its own size a picture comes back unchanged,
// so every layout must give the very pixels of the packed bottom-up picture; a frame one byte short of its last
// row's end makes no image.
TEST(PreviewFrameLayouts, EveryLayoutGivesTheSameBottomUpImage) {
  const struct {
    const char* name;
    int32_t width;
    bool topDown;
    bool videoInfo2;
    int32_t missing;  // bytes missing from the whole frame (the last row's padding is 2 bytes at width 10)
    bool makesImage;
  } cases[] = {
      {"VIDEOINFOHEADER2, top-down", 10, true, true, 0, true},
      {"padded frame without the last row's padding", 10, false, false, 2, true},
      {"padded frame one byte short", 10, false, false, 3, false},
      {"top-down frame one byte short", 10, true, false, 3, false},
  };
  const int32_t height = 4;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Picture pixel (x, y counted from the bottom) in blue, green, red; packed bottom-up as the image stores it.
    auto pixel = [](int32_t x, int32_t y, int32_t channel) {
      return static_cast<uint8_t>(1 + 20 * x + 60 * y + 7 * channel);
    };
    const size_t stride = static_cast<size_t>(CaptureDeviceManager::SourceStride(c.width));
    std::vector<uint8_t> expected, frame(stride * height, 0xEE);
    for (int32_t y = 0; y < height; ++y) {
      const size_t row = static_cast<size_t>(c.topDown ? height - 1 - y : y) * stride;
      for (int32_t x = 0; x < c.width; ++x) {
        for (int32_t channel = 0; channel < 3; ++channel) {
          expected.push_back(pixel(x, y, channel));
          frame[row + static_cast<size_t>(x) * 3 + channel] = pixel(x, y, channel);
        }
      }
    }
    frame.resize(frame.size() - static_cast<size_t>(c.missing));

    VIDEOINFOHEADER2 info2{};
    VideoType type(c.width, c.topDown ? -height : height);
    if (c.videoInfo2) {
      info2.bmiHeader = type.info.bmiHeader;
      type.info.bmiHeader.biWidth = 0;  // nothing may be read from the wrong block
      type.type.formattype = FORMAT_VideoInfo2;
      type.type.cbFormat = sizeof info2;
      type.type.pbFormat = reinterpret_cast<BYTE*>(&info2);
    }
    CaptureDeviceManager manager;
    ImageLog images;
    InstallBmpPath(manager, &images);
    manager.SetPreviewSize(c.width, height);
    for (int i = 0; i < 7; ++i) Deliver(manager, frame, &type.type);
    ASSERT_EQ(images.images, c.makesImage ? 1 : 0);
    if (!c.makesImage) continue;
    ASSERT_EQ(images.last.size(), 54 + expected.size());
    EXPECT_EQ(ReadLe32(images.last, 22), static_cast<uint32_t>(height));
    EXPECT_EQ(std::vector<uint8_t>(images.last.begin() + 54, images.last.end()), expected);
  }
}

// A 64x36 frame, delivered until one image is made.
struct BmpFixture : ::testing::Test {
  CaptureDeviceManager manager;
  ImageLog images;
  VideoType type{64, 36};
  std::vector<uint8_t> frame = std::vector<uint8_t>(64 * 36 * 3);

  void SetUp() override { InstallBmpPath(manager, &images); }
  void DeliverSeven(const std::vector<uint8_t>& bytes) {
    for (int i = 0; i < 7; ++i) Deliver(manager, bytes, &type.type);
  }
};

bool OnlySmallImages(int64_t bmpBytes) { return bmpBytes <= 54 + 224 * 126 * 3; }

// Conditions under which no image is made. A size that makes none keeps no buffer; the next usable one makes
// images again.
TEST_F(BmpFixture, RefusedFramesAndSizesMakeNoImage) {
  const struct {
    const char* name;
    int32_t width, height;
    bool shortFrame;
  } cases[] = {
      {"frame one byte short", 224, 126, true},
      {"preview height 0", 224, 0, false},
      // 0x40000000 x 42 x 3 wraps to a small count in 32 bits.
      {"byte count wrapping in 32 bits", 0x40000000, 42, false},
      {"an image the size check refuses", 225, 126, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(manager.SetPreviewSize(224, 126, &OnlySmallImages));
    DeliverSeven(frame);
    ASSERT_EQ(images.images, 1);
    images.images = 0;
    EXPECT_EQ(manager.SetPreviewSize(c.width, c.height, &OnlySmallImages), c.shortFrame);
    DeliverSeven(std::vector<uint8_t>(frame.begin(), frame.end() - (c.shortFrame ? 1 : 0)));
    EXPECT_EQ(images.images, 0);
  }
  // Null data and a null context are refused at the door.
  CaptureDeviceManager::ScaleFrameToBmp(nullptr, 100, &manager);
  CaptureDeviceManager::ScaleFrameToBmp(frame.data(), static_cast<int32_t>(frame.size()), nullptr);
  EXPECT_EQ(images.images, 0);
}

void ThrowingImageCallback(std::vector<uint8_t>*, void*) { throw std::runtime_error("send failed"); }

TEST_F(BmpFixture, AnExceptionBelowTheSampleCallbackDropsOnlyThatFrame) {
  manager.SetPreviewSize(16, 9);
  manager.SendImagesTo(&ThrowingImageCallback, nullptr);
  for (int i = 0; i < 6; ++i) Deliver(manager, frame, &type.type);
  EXPECT_EQ(Deliver(manager, frame, &type.type), 0);

  // The lock was let go on the way out: the hand-over and the next frames work.
  InstallBmpPath(manager, &images);
  DeliverSeven(frame);
  EXPECT_EQ(images.images, 1);
}

// Frames flow on another thread while the preview size and buffer change; every image must match the
// size written in its own header (run under the sanitizers to catch a torn hand-over).
TEST(PreviewHandOver, SizeChangesWhileFramesFlow) {
  CaptureDeviceManager manager;
  struct Check {
    std::atomic<int> images{0};
    std::atomic<int> mismatches{0};
  } check;
  manager.SendImagesTo(
      [](std::vector<uint8_t>* bytes, void* context) {
        auto* c = static_cast<Check*>(context);
        const uint32_t width = ReadLe32(*bytes, 18);
        const uint32_t height = ReadLe32(*bytes, 22);
        if (bytes->size() != 54u + width * height * 3) ++c->mismatches;
        ++c->images;
      },
      &check);
  manager.SetPreviewSize(224, 126);

  std::atomic<bool> stop{false};
  std::thread streaming([&] {
    VideoType type(64, 36);
    std::vector<uint8_t> frame(64 * 36 * 3, 7);
    while (!stop) Deliver(manager, frame, &type.type);
  });
  for (int i = 0; i < 300 || check.images < 20; ++i) manager.SetPreviewSize(i % 2 ? 16 : 224, i % 2 ? 9 : 126);
  stop = true;
  streaming.join();
  EXPECT_EQ(check.mismatches, 0);
}

}  // namespace
