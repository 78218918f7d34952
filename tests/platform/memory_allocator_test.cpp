// The standard memory allocator and its samples: the times and flags the renderer reads, and the waits the
// streaming thread makes.
#include <atomic>
#include <thread>

#include "tests/platform/platform_test_util.h"

namespace {

class AllocatorTest : public PlatformTest {
 protected:
  void SetUp() override { ASSERT_TRUE(allocator_ = Create<IMemAllocator>(CLSID_MemoryAllocator, IID_IMemAllocator)); }
  void Configure(LONG buffers, LONG bytes) {
    ALLOCATOR_PROPERTIES request{buffers, bytes, 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(allocator_->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator_->Commit(), S_OK);
  }
  ComPtr<IMemAllocator> allocator_;
};

TEST_F(AllocatorTest, SampleTimesHaveThreeOutcomesAndPropertiesResetWhenTheSampleComesBack) {
  Configure(1, 64);
  ComPtr<IMediaSample> sample;
  ASSERT_EQ(allocator_->GetBuffer(sample.Receive(), nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = -1, stop = -1;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  REFERENCE_TIME s = 1000, e = 3000;
  sample->SetTime(&s, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(start, 1000);
  EXPECT_EQ(stop, 1001);
  sample->SetTime(&s, &e);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(stop, 3000);
  sample->SetTime(nullptr, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(sample->SetActualDataLength(65), VFW_E_BUFFER_OVERFLOW);
  ASSERT_EQ(sample->SetActualDataLength(64), S_OK);
  AM_MEDIA_TYPE* none = reinterpret_cast<AM_MEDIA_TYPE*>(1);
  EXPECT_EQ(sample->GetMediaType(&none), S_FALSE);
  EXPECT_EQ(none, nullptr);
  MediaType type;
  type->majortype = MEDIATYPE_Video;
  ASSERT_EQ(sample->SetMediaType(type.Get()), S_OK);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(TRUE);
  sample->SetTime(&s, &s);
  sample.Reset();

  ASSERT_EQ(allocator_->GetBuffer(sample.Receive(), nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME a, b;
  EXPECT_EQ(sample->GetActualDataLength(), 0);
  EXPECT_EQ(sample->GetTime(&a, &b), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(sample->GetMediaType(&none), S_FALSE);
}

TEST_F(AllocatorTest, GetBufferWaitsForAFreeSampleAndDecommitReleasesWaiters) {
  Configure(1, 16);
  ComPtr<IMediaSample> held;
  ASSERT_EQ(allocator_->GetBuffer(held.Receive(), nullptr, nullptr, 0), S_OK);
  ComPtr<IMediaSample> other;
  EXPECT_EQ(allocator_->GetBuffer(other.Receive(), nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

  std::atomic<HRESULT> waited{E_FAIL};
  std::thread waiter([&] {
    ComPtr<IMediaSample> sample;
    waited = allocator_->GetBuffer(sample.Receive(), nullptr, nullptr, 0);
  });
  held.Reset();  // the waiter gets this one
  waiter.join();
  EXPECT_EQ(waited.load(), S_OK);

  ASSERT_EQ(allocator_->GetBuffer(held.Receive(), nullptr, nullptr, 0), S_OK);
  std::thread blocked([&] {
    ComPtr<IMediaSample> sample;
    waited = allocator_->GetBuffer(sample.Receive(), nullptr, nullptr, 0);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  allocator_->Decommit();
  blocked.join();
  EXPECT_EQ(waited.load(), VFW_E_NOT_COMMITTED);
  // A sample still out keeps the allocator alive past its last outside reference.
  allocator_.Reset();
  EXPECT_GT(PnxLiveComObjectCount(), 0);
  held.Reset();
}

}  // namespace
