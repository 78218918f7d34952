// The POSIX COM runtime: apartments are counted per thread, and creation needs one.
#include <thread>

#include "tests/platform/platform_test_util.h"

namespace {

// The manager initialises and uninitialises COM on its own thread, once per manager.
TEST(ComPosix, InitialisationIsCountedPerThreadAndNeededForCreation) {
  std::thread([] {
    ComPtr<IFilterGraph2> graph;
    auto create = [&] {
      return CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                              graph.ReceiveVoid());
    };
    EXPECT_EQ(create(), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    EXPECT_EQ(create(), S_OK);
    graph.Reset();
    CoUninitialize();
    EXPECT_EQ(create(), CO_E_NOTINITIALIZED);
  }).join();
  EXPECT_EQ(PnxLiveComObjectCount(), 0);
}

}  // namespace
