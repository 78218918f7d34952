// The system device enumerator over the emulated configurations: the node names and order the manager's
// discovery relies on, and the empty category's answer.
#include "tests/platform/platform_test_util.h"

namespace {

TEST_F(PlatformTest, EnumeratorListsTheConfiguredNodesInOrder) {
  const struct {
    const char* config;
    std::vector<std::wstring> names;
  } cases[] = {
      // two devices, inputs sorted, other nodes last; the number follows the position
      {R"({"devices": [{"inputs": [2, 1]}, {"number": 5, "inputs": [4]}],
           "otherNodes": ["Integrated Camera", "Brelvon"]})",
       {L"Brelvon HDMI-1 / Multiview", L"Brelvon HDMI-2 / Multiview", L"Brelvon 5 HDMI-4 / Multiview",
        L"Integrated Camera", L"Brelvon"}},
      {R"({"devices": [{"inputs": []}, {"inputs": [3]}]})", {L"Brelvon 2 HDMI-3 / Multiview"}},
      {R"({"devices": [{"inputs": [1, 1]}]})", {}},  // a refused configuration lists nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    emulator::LoadConfigurationText(c.config);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(ListVideoInputs(&hr), c.names);
    EXPECT_EQ(hr, c.names.empty() ? S_FALSE : S_OK);
  }
}

// S_FALSE is a success code: a caller that only checks SUCCEEDED must find no enumerator to walk.
TEST_F(PlatformTest, EmptyCategoryAnswersSFalseWithNoEnumerator) {
  emulator::LoadConfigurationText(R"({"devices": []})");
  auto devEnum = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
  ASSERT_TRUE(devEnum);
  IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(1);
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_FALSE);
  EXPECT_EQ(monikers, nullptr);
}

}  // namespace
