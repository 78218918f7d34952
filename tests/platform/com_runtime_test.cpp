// COM basics of the POSIX layer: apartment counting, the class registry, BSTR/VARIANT and media types.
#include <thread>

#include "tests/platform/platform_test_util.h"

namespace {

TEST(ComRuntime, InitialisationIsCountedPerThreadAndNeededForCreation) {
  std::thread([] {
    ComPtr<IFilterGraph2> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                               graph.ReceiveVoid()),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    EXPECT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                                           graph.ReceiveVoid())));
    graph.Reset();
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                               graph.ReceiveVoid()),
              CO_E_NOTINITIALIZED);
  }).join();
  EXPECT_EQ(PnxLiveComObjectCount(), 0);
}

TEST_F(PlatformTest, CreationAnswersAsThePlatform) {
  ComPtr<IUnknown> object;
  const GUID unknownClass = {0x12345678, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(CoCreateInstance(unknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.ReceiveVoid()),
            REGDB_E_CLASSNOTREG);
  ComPtr<IUnknown> outer;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         outer.ReceiveVoid())));
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReceiveVoid()),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IAMStreamConfig,
                             object.ReceiveVoid()),
            E_NOINTERFACE);
  EXPECT_EQ(object.Get(), nullptr);
}

TEST(ComRuntime, BstrKeepsItsLengthAndVariantClearFreesIt) {
  BSTR text = SysAllocString(L"Brelvon");
  EXPECT_EQ(SysStringLen(text), 7u);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &value), S_OK);
  EXPECT_NE(copy.bstrVal, text);
  EXPECT_EQ(std::wstring(copy.bstrVal), L"Brelvon");
  EXPECT_EQ(VariantClear(&value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);
  VariantClear(&copy);
  BSTR empty = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(SysStringLen(empty), 3u);
  SysFreeString(empty);
}

TEST(MediaTypes, CopiesAreDeepAndFreeingReleasesEverything) {
  {
    // Any counted object shows what the media-type helpers do with pUnk.
    ComPtr<IUnknown> unk(TestSink::Make()->Filter());
    MediaType original;
    original->majortype = MEDIATYPE_Video;
    original->subtype = MEDIASUBTYPE_RGB24;
    original->formattype = FORMAT_VideoInfo;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(original.AllocFormat(sizeof(VIDEOINFOHEADER)));
    ASSERT_NE(vih, nullptr);
    vih->bmiHeader.biWidth = 640;
    original->pUnk = unk.Get();
    unk->AddRef();

    MediaType copy = original;
    EXPECT_NE(copy->pbFormat, original->pbFormat);
    EXPECT_TRUE(MediaTypesEqual(*copy, *original));
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(copy->pbFormat)->bmiHeader.biWidth, 640);
    EXPECT_EQ(unk->AddRef(), 4u);  // ours, original's, copy's, this one
    unk->Release();

    MediaTypePtr created(CreateMediaType(original.Get()));
    ASSERT_TRUE(created);
    reinterpret_cast<VIDEOINFOHEADER*>(created->pbFormat)->bmiHeader.biWidth = 320;
    EXPECT_FALSE(MediaTypesEqual(*created.Get(), *original));

    AM_MEDIA_TYPE plain;
    ASSERT_EQ(CopyMediaType(&plain, original.Get()), S_OK);
    FreeMediaType(plain);
    EXPECT_EQ(plain.pbFormat, nullptr);
    EXPECT_EQ(plain.cbFormat, 0u);
    EXPECT_EQ(plain.pUnk, nullptr);

    MediaType empty;
    empty->majortype = MEDIATYPE_Video;  // no format block at all
    MediaType emptyCopy = empty;
    EXPECT_EQ(emptyCopy->pbFormat, nullptr);
    EXPECT_EQ(emptyCopy->cbFormat, 0u);
  }
  EXPECT_EQ(PnxLiveComObjectCount(), 0);
}

}  // namespace
