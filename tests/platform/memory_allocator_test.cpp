// The standard memory allocator and its samples.
#include <atomic>
#include <thread>

#include "tests/platform/platform_test_util.h"

namespace {

class AllocatorTest : public PlatformTest {
 protected:
  void SetUp() override { ASSERT_TRUE(allocator_ = Create<IMemAllocator>(CLSID_MemoryAllocator, IID_IMemAllocator)); }
  void Configure(LONG buffers, LONG bytes, LONG align = 1) {
    ALLOCATOR_PROPERTIES request{buffers, bytes, align, 0};
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(allocator_->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator_->Commit(), S_OK);
  }
  ComPtr<IMemAllocator> allocator_;
};

TEST_F(AllocatorTest, RefusesBadPropertiesAndUncommittedUse) {
  ComPtr<IMediaSample> sample;
  EXPECT_EQ(allocator_->Commit(), VFW_E_SIZENOTSET);
  EXPECT_EQ(allocator_->GetBuffer(sample.Receive(), nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ALLOCATOR_PROPERTIES request{2, 100, 3, 0};
  ALLOCATOR_PROPERTIES actual{};
  EXPECT_EQ(allocator_->SetProperties(&request, &actual), VFW_E_BADALIGN);
  Configure(1, 100, 16);
  request = {2, 100, 1, 0};
  EXPECT_EQ(allocator_->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
  ASSERT_EQ(allocator_->GetBuffer(sample.Receive(), nullptr, nullptr, 0), S_OK);
  BYTE* data = nullptr;
  ASSERT_EQ(sample->GetPointer(&data), S_OK);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
  allocator_->Decommit();
  EXPECT_EQ(allocator_->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
  sample.Reset();
  EXPECT_EQ(allocator_->SetProperties(&request, &actual), S_OK);
}

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
  LONGLONG ms = 0, me = 0;
  EXPECT_EQ(sample->GetMediaTime(&ms, &me), VFW_E_MEDIA_TIME_NOT_SET);
  EXPECT_EQ(sample->GetSize(), 64);
  EXPECT_EQ(sample->SetActualDataLength(65), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
  ASSERT_EQ(sample->SetActualDataLength(64), S_OK);
  AM_MEDIA_TYPE* none = reinterpret_cast<AM_MEDIA_TYPE*>(1);
  EXPECT_EQ(sample->GetMediaType(&none), S_FALSE);
  EXPECT_EQ(none, nullptr);
  MediaType type;
  type->majortype = MEDIATYPE_Video;
  type.AllocFormat(8);
  ASSERT_EQ(sample->SetMediaType(type.Get()), S_OK);
  MediaTypePtr got;
  ASSERT_EQ(sample->GetMediaType(got.Receive()), S_OK);
  EXPECT_NE(got->pbFormat, type->pbFormat);
  EXPECT_TRUE(MediaTypesEqual(*got.Get(), *type));
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
  EXPECT_EQ(sample->GetMediaType(got.Receive()), S_FALSE);
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
