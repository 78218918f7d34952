// The system device enumerator over the emulated configurations: node names and order, the empty category,
// invalid configurations, and what a bound node offers.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/platform/platform_test_util.h"

namespace {

TEST_F(PlatformTest, EnumeratorListsTheConfiguredNodesInOrder) {
  const struct {
    const char* config;
    std::vector<std::wstring> names;  // none: the configuration is refused or empty
  } cases[] = {
      {"{}",
       {L"Brelvon HDMI-1 / Multiview", L"Brelvon HDMI-2 / Multiview", L"Brelvon HDMI-3 / Multiview",
        L"Brelvon HDMI-4 / Multiview"}},
      // two devices, inputs sorted, other nodes last
      {R"({"devices": [{"inputs": [2, 1]}, {"number": 5, "inputs": [4]}],
           "otherNodes": ["Integrated Camera", "Brelvon"]})",
       {L"Brelvon HDMI-1 / Multiview", L"Brelvon HDMI-2 / Multiview", L"Brelvon 5 HDMI-4 / Multiview",
        L"Integrated Camera", L"Brelvon"}},
      // the number follows the position
      {R"({"devices": [{"inputs": []}, {"inputs": [3]}]})", {L"Brelvon 2 HDMI-3 / Multiview"}},
      {R"({"devices": []})", {}},
      {"{devices", {}},
      {R"({"devices": [{"signal": [1, 0]}]})", {}},
      {R"({"devices": [{"inputs": [5]}]})", {}},
      {R"({"devices": [{"inputs": [1, 1]}]})", {}},
      {R"({"devices": [{}, {"number": 1}]})", {}},
      {R"({"devices": [{"formats": ["H264"]}]})", {}},
      {R"({"devices": [{"formats": [{"subtype": "YUY2", "topDown": true}]}]})", {}},
      {R"({"devices": [{"formats": [{"subtype": "RGB24", "topDown": 1}]}]})", {}},
      {R"({"frame": {"times": "stop"}})", {}},
      {R"({"frame": {"width": -1}})", {}},
      {R"({"devices": [{"sources": [1, 2, 3, 16]}]})", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    emulator::LoadConfigurationText(c.config);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(ListVideoInputs(&hr), c.names);
    EXPECT_EQ(hr, c.names.empty() ? S_FALSE : S_OK);
  }
}

TEST_F(PlatformTest, EmptyCategoryAnswersSFalseWithNoEnumerator) {
  emulator::LoadConfigurationText(R"({"devices": []})");
  auto devEnum = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
  ASSERT_TRUE(devEnum);
  IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(1);
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_FALSE);
  EXPECT_EQ(monikers, nullptr);
  emulator::LoadConfigurationText("{}");
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_MemoryAllocator, &monikers, 0), S_FALSE);
}

TEST_F(PlatformTest, PropertyBagHasOnlyTheFriendlyName) {
  emulator::LoadConfigurationText("{}");
  auto devEnum = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
  ComPtr<IEnumMoniker> monikers;
  ComPtr<IMoniker> moniker;
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0), S_OK);
  ASSERT_EQ(monikers->Skip(3), S_OK);
  ASSERT_EQ(monikers->Next(1, moniker.Receive(), nullptr), S_OK);
  ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid()), S_OK);
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(bag->Read(L"FriendlyName", &value, nullptr), S_OK);
  EXPECT_EQ(value.vt, VT_BSTR);
  EXPECT_EQ(std::wstring(value.bstrVal), L"Brelvon HDMI-4 / Multiview");
  VariantClear(&value);
  EXPECT_TRUE(FAILED(bag->Read(L"DevicePath", &value, nullptr)));
  EXPECT_EQ(monikers->Next(1, moniker.Receive(), nullptr), S_FALSE);
}

TEST_F(PlatformTest, BoundNodesOfferTheConfiguredInterfaces) {
  const struct {
    const char* config;
    const wchar_t* node;
    bool propertySet, decoder;
  } cases[] = {
      {"{}", L"Brelvon HDMI-1 / Multiview", true, true},
      {"{}", L"Brelvon HDMI-2 / Multiview", false, true},
      {R"({"devices": [{"propertySet": false, "decoder": false}]})", L"Brelvon HDMI-1 / Multiview", false, false},
      {R"({"devices": [{}, {}]})", L"Brelvon 2 HDMI-1 / Multiview", true, true},
      {R"({"otherNodes": ["Brelvon"]})", L"Brelvon", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    emulator::LoadConfigurationText(c.config);
    ComPtr<IBaseFilter> filter = BindNode(c.node);
    ASSERT_TRUE(filter);
    ComPtr<IKsPropertySet> props;
    ComPtr<IAMAnalogVideoDecoder> decoder;
    EXPECT_EQ(SUCCEEDED(filter.As(IID_IKsPropertySet, &props)), c.propertySet);
    EXPECT_EQ(SUCCEEDED(filter.As(IID_IAMAnalogVideoDecoder, &decoder)), c.decoder);
    CLSID clsid;
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
  }
}

TEST_F(PlatformTest, InvalidEnvironmentFileGivesNoDeviceAndOneLine) {
  const std::string path = ::testing::TempDir() + "pnx_invalid_devices.json";
  std::ofstream(path) << "{\"frame\": {\"fps\": \"fast\"}}";
  setenv("PNX_SIM_DEVICES", path.c_str(), 1);
  emulator::UseEnvironmentConfiguration();
  ::testing::internal::CaptureStderr();
  HRESULT hr = S_OK;
  EXPECT_TRUE(ListVideoInputs(&hr).empty());
  ListVideoInputs();  // read once per process: no second line
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find(path), std::string::npos) << err;

  setenv("PNX_SIM_DEVICES", (path + ".missing").c_str(), 1);
  emulator::UseEnvironmentConfiguration();
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(ListVideoInputs().empty());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("cannot read"), std::string::npos);

  std::ofstream(path) << R"({"devices": [{"number": 3, "inputs": [1]}]})";
  setenv("PNX_SIM_DEVICES", path.c_str(), 1);
  emulator::UseEnvironmentConfiguration();
  EXPECT_EQ(ListVideoInputs(), std::vector<std::wstring>{L"Brelvon 3 HDMI-1 / Multiview"});
  unsetenv("PNX_SIM_DEVICES");
  emulator::UseEnvironmentConfiguration();
  EXPECT_EQ(ListVideoInputs().size(), 4u);
  std::remove(path.c_str());
}

}  // namespace
