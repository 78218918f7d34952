// The system device enumerator: an empty category answers as the platform does.
#include "tests/platform/platform_test_util.h"

namespace {

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
