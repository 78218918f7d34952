// Media types: copies own their format block and their count on pUnk.
#include "tests/platform/platform_test_util.h"

namespace {

// The renderer keeps its connection type with Set and hands it out with CopyMediaType: each copy owns its own
// format block and its own count on pUnk, and freeing gives both back.
TEST(MediaType, CopiesAreDeepAndFreeingReleasesEverything) {
  {
    ComPtr<IUnknown> unk(TestSink::Make()->Filter());
    AM_MEDIA_TYPE original{};
    original.majortype = MEDIATYPE_Video;
    VIDEOINFOHEADER vih{};
    original.cbFormat = sizeof vih;
    original.pbFormat = reinterpret_cast<BYTE*>(&vih);
    original.pUnk = unk.Get();

    MediaType kept;
    ASSERT_EQ(kept.Set(original), S_OK);
    AM_MEDIA_TYPE plain;
    ASSERT_EQ(CopyMediaType(&plain, kept.Get()), S_OK);
    EXPECT_NE(kept->pbFormat, original.pbFormat);
    EXPECT_NE(plain.pbFormat, kept->pbFormat);
    EXPECT_TRUE(MediaTypesEqual(plain, original));
    EXPECT_EQ(unk->AddRef(), 4u);  // ours, kept's, plain's, this one
    unk->Release();
    FreeMediaType(plain);
    EXPECT_EQ(plain.pbFormat, nullptr);
    EXPECT_EQ(plain.cbFormat, 0u);
    EXPECT_EQ(plain.pUnk, nullptr);
  }
  EXPECT_EQ(PnxLiveComObjectCount(), 0);
}

}  // namespace
