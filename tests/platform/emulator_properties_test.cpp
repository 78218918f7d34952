// The emulated device's vendor property set, signal lock and trace file lines.
#include <cstdio>
#include <fstream>

#include "tests/platform/platform_test_util.h"

namespace {

ComPtr<IKsPropertySet> PropertySetOf(const wchar_t* node) {
  ComPtr<IBaseFilter> filter = BindNode(node);
  ComPtr<IKsPropertySet> props;
  if (filter) filter.As(IID_IKsPropertySet, &props);
  return props;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every request, format and state change is also an event line of the trace file.
TEST_F(PlatformTest, PropertiesRoundTripByteForByteOutliveTheFilterAndAreTraced) {
  const std::string path = ::testing::TempDir() + "pnx_emulator_trace.jsonl";
  std::remove(path.c_str());
  emulator::LoadConfigurationText(R"({"devices": [{}, {"layout": 0, "sources": [4, 4, 4, 4]}]})");
  emulator::SetTracePath(path);
  const BYTE written[8] = {0x21, 0x43, 0, 0, 0, 0, 0, 0x99};
  {
    ComPtr<IKsPropertySet> props = PropertySetOf(kHdmi1);
    ASSERT_TRUE(props);
    ASSERT_EQ(props->Set(kVendorSet, 632, nullptr, 0, const_cast<BYTE*>(written), 8), S_OK);
    uint32_t layout = 7;
    ASSERT_EQ(props->Set(kVendorSet, 631, nullptr, 0, &layout, 4), S_OK);
  }
  // A new bind is a new filter object with the device's state.
  ComPtr<IBaseFilter> filter = BindNode(kHdmi1);
  ComPtr<IKsPropertySet> props;
  ASSERT_EQ(filter.As(IID_IKsPropertySet, &props), S_OK);
  BYTE read[8] = {};
  DWORD returned = 0;
  ASSERT_EQ(props->Get(kVendorSet, 632, nullptr, 0, read, 8, &returned), S_OK);
  EXPECT_EQ(returned, 8u);
  EXPECT_EQ(std::vector<BYTE>(read, read + 8), std::vector<BYTE>(written, written + 8));
  uint32_t layout = 0;
  ASSERT_EQ(props->Get(kVendorSet, 631, nullptr, 0, &layout, 4, &returned), S_OK);
  EXPECT_EQ(layout, 7u);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(OutputPinOf(filter.Get()).As(IID_IAMStreamConfig, &config), S_OK);
  MediaTypePtr caps;
  VIDEO_STREAM_CONFIG_CAPS scc;
  ASSERT_EQ(config->GetStreamCaps(0, caps.Receive(), reinterpret_cast<BYTE*>(&scc)), S_OK);
  ASSERT_EQ(config->SetFormat(caps.Get()), S_OK);
  filter->Run(0);
  filter->Stop();
  const std::string node = R"({"node":"Brelvon HDMI-1 / Multiview",)";
  EXPECT_EQ(ReadLines(path), (std::vector<std::string>{
                                 node + R"("op":"set","id":632,"data":"2143000000000099","hr":0})",
                                 node + R"("op":"set","id":631,"data":"07000000","hr":0})",
                                 node + R"("op":"get","id":632,"data":"2143000000000099","hr":0})",
                                 node + R"("op":"get","id":631,"data":"07000000","hr":0})",
                                 node + R"("op":"format","subtype":"RGB24","width":1920,"height":1080})",
                                 node + R"("op":"state","state":"paused"})",
                                 node + R"("op":"state","state":"running"})",
                                 node + R"("op":"state","state":"stopped"})",
                             }));
  emulator::SetTracePath("");
  std::remove(path.c_str());
  uint32_t post = 0;
  EXPECT_EQ(props->Get(kVendorSet, 25, nullptr, 0, &post, 4, &returned), S_OK);
  EXPECT_EQ(returned, 4u);

  // The second device keeps its own configured state; a reset puts the first one back.
  uint64_t sources = 0;
  ASSERT_TRUE(emulator::GetDeviceState(2, &layout, &sources));
  EXPECT_EQ(layout, 0u);
  EXPECT_EQ(sources, 0x4444u);
  emulator::ResetDeviceStates();
  ASSERT_TRUE(emulator::GetDeviceState(1, &layout, &sources));
  EXPECT_EQ(layout, 100u);
  EXPECT_EQ(sources, 0x4321u);
}

TEST_F(PlatformTest, PropertyRequestsAnswerLikeADriver) {
  const std::string path = ::testing::TempDir() + "pnx_emulator_failures.jsonl";
  std::remove(path.c_str());
  emulator::LoadConfigurationText(R"({"devices": [{"failSet": [631], "failGet": [632]}]})");
  emulator::SetTracePath(path);
  ComPtr<IKsPropertySet> props = PropertySetOf(kHdmi1);
  ASSERT_TRUE(props);
  BYTE buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  DWORD returned = 99;
  const GUID otherSet = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 4}};
  struct {
    const char* what;
    HRESULT hr;
    HRESULT expected;
  } rows[] = {
      {"configured set failure", props->Set(kVendorSet, 631, nullptr, 0, buffer, 4), E_FAIL},
      {"configured get failure", props->Get(kVendorSet, 632, nullptr, 0, buffer, 8, &returned), E_FAIL},
      {"short set", props->Set(kVendorSet, 632, nullptr, 0, buffer, 4), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)},
      {"short get", props->Get(kVendorSet, 631, nullptr, 0, buffer, 2, &returned), HRESULT_FROM_WIN32(ERROR_MORE_DATA)},
      {"unknown id", props->Get(kVendorSet, 630, nullptr, 0, buffer, 8, &returned), E_PROP_ID_UNSUPPORTED},
      {"25 is read-only", props->Set(kVendorSet, 25, nullptr, 0, buffer, 4), E_PROP_ID_UNSUPPORTED},
      {"other set", props->Set(otherSet, 631, nullptr, 0, buffer, 4), E_PROP_SET_UNSUPPORTED},
      {"null data", props->Set(kVendorSet, 631, nullptr, 0, nullptr, 4), E_POINTER},
  };
  for (const auto& row : rows) EXPECT_EQ(row.hr, row.expected) << row.what;
  // A failed request is traced with its answer and no data.
  std::vector<std::string> lines = ReadLines(path);
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       R"({"node":"Brelvon HDMI-1 / Multiview","op":"get","id":632,"data":"","hr":-2147467259})"),
            1);
  emulator::SetTracePath("");
  std::remove(path.c_str());
  uint32_t layout = 0;
  uint64_t sources = 0;
  ASSERT_TRUE(emulator::GetDeviceState(1, &layout, &sources));
  EXPECT_EQ(layout, 100u) << "failed sets change nothing";
  EXPECT_EQ(sources, 0x4321u);
  DWORD support = 0;
  EXPECT_EQ(props->QuerySupported(kVendorSet, 25, &support), S_OK);
  EXPECT_EQ(support, DWORD{KSPROPERTY_SUPPORT_GET});
  EXPECT_EQ(props->QuerySupported(kVendorSet, 632, &support), S_OK);
  EXPECT_EQ(support, DWORD{KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET});
}

TEST_F(PlatformTest, DecoderReportsEachInputsSignal) {
  emulator::LoadConfigurationText(R"({"devices": [{"signal": [true, false, true, false]}]})");
  for (int i = 0; i < 4; ++i) {
    ComPtr<IBaseFilter> filter = BindNode(L"Brelvon HDMI-" + std::to_wstring(i + 1) + L" / Multiview");
    ComPtr<IAMAnalogVideoDecoder> decoder;
    ASSERT_EQ(filter.As(IID_IAMAnalogVideoDecoder, &decoder), S_OK);
    LONG locked = -1;
    ASSERT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
    EXPECT_EQ(locked, i % 2 == 0 ? 1 : 0) << i;
    if (i == 1) {
      ASSERT_TRUE(emulator::SetInputSignal(1, 2, true));
      ASSERT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
      EXPECT_EQ(locked, 1);
    }
  }
  EXPECT_FALSE(emulator::SetInputSignal(1, 5, true));
  EXPECT_FALSE(emulator::SetInputSignal(2, 1, true));
}

}  // namespace
