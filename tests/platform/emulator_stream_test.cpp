// The emulated node's capture pin: capabilities, SetFormat, delivered frame size and rate, and the
// documented multiview rendering (sample times: filter_graph_test.cpp).
#include <string>
#include <thread>

#include "tests/platform/platform_test_util.h"

namespace {

using StreamTest = GraphTest;

const VIDEOINFOHEADER* Vih(const AM_MEDIA_TYPE* mt) { return reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat); }

TEST_F(StreamTest, CapabilitiesFollowTheConfiguredListAndFramesTheFormatLastApplied) {
  Build(R"({"frame": {"width": 32, "height": 16, "fps": 200},
            "devices": [{"formats": ["YUY2", {"subtype": "RGB24", "width": 16, "height": 8}, "NV12", "MJPG"]}]})");
  int count = 0, size = 0;
  ASSERT_EQ(config_->GetNumberOfCapabilities(&count, &size), S_OK);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
  struct Row {
    GUID subtype;
    LONG width, height;
    DWORD bytes;
    WORD bits;
  } rows[] = {{MEDIASUBTYPE_YUY2, 32, 16, 32 * 16 * 2, 16},
              {MEDIASUBTYPE_RGB24, 16, 8, 16 * 8 * 3, 24},
              {MEDIASUBTYPE_NV12, 32, 16, 32 * 16 * 3 / 2, 12},
              {MEDIASUBTYPE_MJPG, 32, 16, 32 * 16, 24}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    MediaTypePtr mt;
    VIDEO_STREAM_CONFIG_CAPS scc{};
    ASSERT_EQ(config_->GetStreamCaps(i, mt.Receive(), reinterpret_cast<BYTE*>(&scc)), S_OK);
    EXPECT_EQ(mt->majortype, MEDIATYPE_Video);
    EXPECT_EQ(mt->subtype, rows[i].subtype);
    EXPECT_EQ(mt->formattype, FORMAT_VideoInfo);
    ASSERT_GE(mt->cbFormat, sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(Vih(mt.Get())->bmiHeader.biWidth, rows[i].width);
    EXPECT_EQ(Vih(mt.Get())->bmiHeader.biHeight, rows[i].height);
    EXPECT_EQ(Vih(mt.Get())->bmiHeader.biSizeImage, rows[i].bytes);
    EXPECT_EQ(Vih(mt.Get())->bmiHeader.biBitCount, rows[i].bits);
    EXPECT_EQ(Vih(mt.Get())->AvgTimePerFrame, 50000);
    EXPECT_EQ(scc.MaxOutputSize.cx, rows[i].width);
  }
  MediaTypePtr wanted;
  BYTE scc[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
  EXPECT_EQ(config_->GetStreamCaps(4, wanted.Receive(), scc), S_FALSE);
  EXPECT_EQ(config_->GetStreamCaps(-1, wanted.Receive(), scc), E_INVALIDARG);

  // Frames have the size of the format last applied.
  ASSERT_EQ(config_->GetStreamCaps(1, wanted.Receive(), scc), S_OK);
  ASSERT_EQ(config_->SetFormat(wanted.Get()), S_OK);
  MediaType bogus;
  bogus.Set(*wanted.Get());
  reinterpret_cast<VIDEOINFOHEADER*>(bogus->pbFormat)->bmiHeader.biWidth = 17;
  EXPECT_EQ(config_->SetFormat(bogus.Get()), VFW_E_INVALIDMEDIATYPE);
  AddSink();
  Connect();
  MediaTypePtr current;
  ASSERT_EQ(config_->GetFormat(current.Receive()), S_OK);
  EXPECT_EQ(Vih(current.Get())->bmiHeader.biWidth, 16);
  Capture(2);
  EXPECT_EQ(sink_->Samples().back().length, 16 * 8 * 3);

  // Applying another capability while connected reconnects with it.
  ASSERT_EQ(config_->GetStreamCaps(0, wanted.Receive(), scc), S_OK);
  ASSERT_EQ(config_->SetFormat(wanted.Get()), S_OK);
  EXPECT_EQ(sink_->ConnectionType()->subtype, MEDIASUBTYPE_YUY2);
  Capture(sink_->Samples().size() + 2);
  std::vector<uint8_t> frame = sink_->LastFrame();
  ASSERT_EQ(frame.size(), 32u * 16 * 2);
  EXPECT_EQ(std::count(frame.begin(), frame.end(), 0x80), static_cast<long>(frame.size()));
}

TEST_F(StreamTest, NoFramesAtZeroRateAndNoneAfterADownstreamRefusal) {
  BuildConnected(R"({"frame": {"width": 8, "height": 8, "fps": 0}})");
  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_FALSE(sink_->WaitForSamples(1, std::chrono::milliseconds(60)));
  ASSERT_EQ(control_->Stop(), S_OK);

  BuildConnected(R"({"frame": {"width": 8, "height": 8, "fps": 500}})");
  sink_->SetReceiveAnswer(S_FALSE);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitForSamples(1, std::chrono::seconds(5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(sink_->Samples().size(), 1u);
  ASSERT_EQ(control_->Stop(), S_OK);
}

// Bytes from one row of an RGB frame to the next: rows are padded to 4 bytes.
size_t Stride(int width, size_t pixelBytes) { return (width * pixelBytes + 3) / 4 * 4; }

// Colour at picture position (x, y from the top-left) of an RGB frame (bottom-up unless topDown), as R, G, B.
std::vector<int> Pixel(const std::vector<uint8_t>& frame, int width, int height, int x, int y, size_t pixelBytes = 3,
                       bool topDown = false) {
  const size_t at = static_cast<size_t>(topDown ? y : height - 1 - y) * Stride(width, pixelBytes) + x * pixelBytes;
  return {frame[at + 2], frame[at + 1], frame[at]};
}

TEST_F(StreamTest, FramesShowTheMultiviewByTheDocumentedRule) {
  const std::vector<int> red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255},
      black{0, 0, 0}, grey{128, 128, 128};
  const struct {
    const char* device;          // the device entry of the configuration
    const wchar_t* node;
    std::vector<int> places[4];  // expected R, G, B at top-left, top-right, bottom-left, bottom-right
  } cases[] = {
      {"{}", kHdmi1, {red, green, blue, white}},
      {R"({"signal": [true, true, false, true]})", kHdmi1, {red, green, black, white}},
      {R"({"sources": [0, 5, 2, 2]})", kHdmi1, {grey, grey, green, green}},
      {R"({"layout": 0, "sources": [3, 1, 1, 1]})", kHdmi1, {blue, blue, blue, blue}},
      {R"({"layout": 7, "sources": [4, 3, 2, 1]})", kHdmi1, {white, blue, green, red}},
      // Nodes that are not a device's show plain grey.
      {"{}", L"Integrated Camera", {grey, grey, grey, grey}},
  };
  const int w = 10, h = 6;  // even halves: 5x3 quadrants
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    std::string config = std::string(R"({"frame": {"width": 10, "height": 6, "fps": 200},
                                         "otherNodes": ["Integrated Camera"], "devices": [)") + c.device + "]}";
    BuildConnected(config.c_str(), c.node);
    ASSERT_FALSE(HasFatalFailure());
    Capture(1);
    std::vector<uint8_t> frame = sink_->LastFrame();
    ASSERT_EQ(frame.size(), Stride(w, 3) * h);
    for (int place = 0; place < 4; ++place) {
      for (int x : {0, 4}) {
        for (int y : {0, 2}) {
          EXPECT_EQ(Pixel(frame, w, h, x + place % 2 * 5, y + place / 2 * 3), c.places[place])
              << "place " << place + 1;
        }
      }
    }
  }
}

// RGB frames as the platform lays out bitmaps: rows padded to 4 bytes, top-down ones announced by a negative
// height. The top-left place is red (input 1), the bottom-right white (input 4).
TEST_F(StreamTest, RgbFramesLayTheirRowsOutAsBitmapsDo) {
  const struct {
    const char* format;
    size_t pixelBytes;
    bool topDown;
  } cases[] = {
      {R"("RGB24")", 3, false},
      {R"({"subtype": "RGB24", "topDown": true})", 3, true},
      {R"("RGB32")", 4, false},
      {R"({"subtype": "RGB32", "topDown": true})", 4, true},
  };
  const int w = 10, h = 6;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    const std::string config =
        std::string(R"({"frame": {"width": 10, "height": 6, "fps": 200}, "devices": [{"formats": [)") + c.format +
        "]}]}";
    BuildConnected(config.c_str());
    ASSERT_FALSE(HasFatalFailure());
    const size_t stride = Stride(w, c.pixelBytes);
    const MediaType type = sink_->ConnectionType();
    const VIDEOINFOHEADER* info = Vih(type.Get());
    EXPECT_EQ(info->bmiHeader.biHeight, c.topDown ? -h : h);
    EXPECT_EQ(info->bmiHeader.biBitCount, c.pixelBytes * 8);
    EXPECT_EQ(info->bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(info->bmiHeader.biSizeImage, stride * h);
    Capture(1);
    const std::vector<uint8_t> frame = sink_->LastFrame();
    ASSERT_EQ(frame.size(), stride * h);
    EXPECT_EQ(Pixel(frame, w, h, 0, 0, c.pixelBytes, c.topDown), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(Pixel(frame, w, h, w - 1, h - 1, c.pixelBytes, c.topDown), (std::vector<int>{255, 255, 255}));
  }
}

TEST_F(StreamTest, APropertyChangeWhileRunningShowsInTheNextFrames) {
  BuildConnected(R"({"frame": {"width": 4, "height": 2, "fps": 200}})");
  ComPtr<IKsPropertySet> props;
  ASSERT_EQ(source_.As(IID_IKsPropertySet, &props), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitForSamples(1, std::chrono::seconds(5)));
  EXPECT_EQ(Pixel(sink_->LastFrame(), 4, 2, 0, 0), (std::vector<int>{255, 0, 0}));
  uint32_t layout = 0;
  BYTE sources[8] = {0x44, 0x44, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(props->Set(kVendorSet, 631, nullptr, 0, &layout, 4), S_OK);
  ASSERT_EQ(props->Set(kVendorSet, 632, nullptr, 0, sources, 8), S_OK);
  ASSERT_TRUE(sink_->WaitForSamples(sink_->Samples().size() + 2, std::chrono::seconds(5)));
  ASSERT_EQ(control_->Stop(), S_OK);
  EXPECT_EQ(Pixel(sink_->LastFrame(), 4, 2, 3, 1), (std::vector<int>{255, 255, 255}));
}

}  // namespace
