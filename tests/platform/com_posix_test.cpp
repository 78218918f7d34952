// The POSIX COM runtime: apartments are counted per thread, creation needs one, and media types copy deeply.
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

// The renderer hands its connection type out through these helpers: a copy owns its own format block and its
// own count on pUnk.
TEST(MediaType, CopiesAreDeepAndFreeingReleasesEverything) {
  {
    ComPtr<IUnknown> unk(TestSink::Make()->Filter());
    MediaType original;
    original->majortype = MEDIATYPE_Video;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(original.AllocFormat(sizeof(VIDEOINFOHEADER)));
    ASSERT_NE(vih, nullptr);
    vih->bmiHeader.biWidth = 640;
    original->pUnk = unk.Get();
    unk->AddRef();

    MediaType copy = original;
    EXPECT_NE(copy->pbFormat, original->pbFormat);
    EXPECT_TRUE(MediaTypesEqual(*copy, *original));
    EXPECT_EQ(unk->AddRef(), 4u);  // ours, original's, copy's, this one
    unk->Release();

    AM_MEDIA_TYPE plain;
    ASSERT_EQ(CopyMediaType(&plain, original.Get()), S_OK);
    reinterpret_cast<VIDEOINFOHEADER*>(plain.pbFormat)->bmiHeader.biWidth = 320;
    EXPECT_FALSE(MediaTypesEqual(plain, *original));
    FreeMediaType(plain);
    EXPECT_EQ(plain.pbFormat, nullptr);
    EXPECT_EQ(plain.cbFormat, 0u);
    EXPECT_EQ(plain.pUnk, nullptr);

    MediaType empty;  // no format block at all
    MediaType emptyCopy = empty;
    EXPECT_EQ(emptyCopy->pbFormat, nullptr);
  }
  EXPECT_EQ(PnxLiveComObjectCount(), 0);
}

}  // namespace
