// CaptureDeviceManager's frame path: the preview's operations on the control thread, and the frames on the
// capture pin's streaming thread under m_previewLock.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "device/bmp_image.h"
#include "device/capture_device_manager.h"
#include "device/image_scaler.h"

int64_t CaptureDeviceManager::ImageBytes(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return -1;
  return static_cast<int64_t>(width) * height * 3;
}

int64_t CaptureDeviceManager::SourceStride(int32_t width) {
  return (static_cast<int64_t>(width) * 3 + 3) & ~int64_t{3};
}

bool CaptureDeviceManager::SetPreviewSize(int32_t width, int32_t height, ImageFits fits) {
  const int64_t bytes = ImageBytes(width, height);
  const bool usable = bytes > 0 && (!fits || fits(static_cast<int64_t>(kBmpHeaderBytes) + bytes));
  const int32_t size = usable ? static_cast<int32_t>(bytes) : 0;
  // Only this thread writes the buffer fields, so reading them here needs no lock.
  std::unique_ptr<uint8_t[]> buffer;
  if (usable && (m_previewBufferSize != size || !m_previewBuffer)) buffer.reset(new uint8_t[static_cast<size_t>(size)]);
  const bool swap = !usable || buffer;
  ChangePreview([&] {
    m_previewWidth = width;
    m_previewHeight = height;
    if (!swap) return;
    m_previewBuffer.swap(buffer);  // the old buffer is freed below, outside the lock
    m_previewBufferSize = size;
  });
  return usable;
}

void CaptureDeviceManager::SendImagesTo(ImageReadyCallback callback, void* context) {
  ChangePreview([&] {
    m_frameCallback = &CaptureDeviceManager::ScaleFrameToBmp;
    m_frameContext = this;
    m_imageReadyCallback = callback;
    m_imageReadyContext = context;
  });
}

void CaptureDeviceManager::SendKeyFramesTo(KeyFrameCallback callback, void* context, int32_t boxWidth,
                                           int32_t boxHeight) {
  ChangePreview([&] {
    m_frameCallback = &CaptureDeviceManager::ScaleFrameToBmp;
    m_frameContext = this;
    m_keyFrameCallback = callback;
    m_keyFrameContext = context;
    m_keyBoxWidth = boxWidth;
    m_keyBoxHeight = boxHeight;
  });
}

void CaptureDeviceManager::FitInto(int32_t width, int32_t height, int32_t boxWidth, int32_t boxHeight,
                                   int32_t* outWidth, int32_t* outHeight) {
  int64_t w = boxWidth;
  int64_t h = boxHeight;
  if (width > 0 && height > 0) {
    // The side that meets the box first sets the scale; the other is rounded to the nearest pixel.
    if (int64_t{width} * boxHeight >= int64_t{height} * boxWidth) {
      h = (int64_t{height} * boxWidth * 2 + width) / (int64_t{width} * 2);
    } else {
      w = (int64_t{width} * boxHeight * 2 + height) / (int64_t{height} * 2);
    }
  }
  *outWidth = static_cast<int32_t>(std::max<int64_t>(1, w));
  *outHeight = static_cast<int32_t>(std::max<int64_t>(1, h));
}

namespace {

// Copies the bitmap header out of a VIDEOINFOHEADER or VIDEOINFOHEADER2 block, only when the whole block is there.
bool ReadBitmapHeader(const AM_MEDIA_TYPE& type, BITMAPINFOHEADER* header) {
  size_t offset = 0;
  size_t blockSize = 0;
  if (type.formattype == FORMAT_VideoInfo) {
    offset = offsetof(VIDEOINFOHEADER, bmiHeader);
    blockSize = sizeof(VIDEOINFOHEADER);
  } else if (type.formattype == FORMAT_VideoInfo2) {
    offset = offsetof(VIDEOINFOHEADER2, bmiHeader);
    blockSize = sizeof(VIDEOINFOHEADER2);
  } else {
    return false;
  }
  if (!type.pbFormat || type.cbFormat < blockSize) return false;
  std::memcpy(header, type.pbFormat + offset, sizeof *header);
  return true;
}

}  // namespace

int32_t CaptureDeviceManager::OnPreviewSample(const uint8_t* data, int32_t length, int64_t /*start*/,
                                              int64_t /*duration*/, int32_t /*discontinuity*/,
                                              int32_t /*syncPoint*/, const AM_MEDIA_TYPE* mediaType,
                                              void* context) {
  if (!context) return 0;
  auto* self = static_cast<CaptureDeviceManager*>(context);
  // The edge to the platform's streaming thread: whatever goes wrong below (an allocation while packing,
  // an error in the plug-in's sending) costs this frame and nothing else.
  try {
    std::lock_guard<std::mutex> hold(self->m_previewLock);
    return self->ForwardSample(data, length, mediaType);
  } catch (...) {
    return 0;
  }
}

int32_t CaptureDeviceManager::ForwardSample(const uint8_t* data, int32_t length,
                                            const AM_MEDIA_TYPE* mediaType) {
  // A sample with a type announces the format of its own frame and of those after it (a format change
  // mid-stream): a type that cannot be read makes the old size unusable as well, since the rows that follow
  // no longer lie at its stride. Until a usable size is known, frames are dropped without counting.
  if (mediaType && !LearnSourceSize(mediaType)) {
    m_sourceWidth = 0;
    m_sourceHeight = 0;
  }
  if (m_sourceWidth == 0 || m_sourceHeight == 0) return 0;

  const int32_t skip = m_previewRate > 0 ? 60 / m_previewRate : 0;
  if (m_previewCounter < skip) {
    ++m_previewCounter;
    return 0;
  }
  m_previewCounter = 0;
  if (!m_frameCallback) return 0;
  m_frameCallback(data, length, m_frameContext);
  return 1;
}

bool CaptureDeviceManager::LearnSourceSize(const AM_MEDIA_TYPE* mediaType) {
  return ReadFrameFormat(mediaType, &m_sourceWidth, &m_sourceHeight, &m_sourceTopDown);
}

bool CaptureDeviceManager::ReadFrameFormat(const AM_MEDIA_TYPE* mediaType, int32_t* outWidth, int32_t* outHeight,
                                           bool* outTopDown) {
  // Only uncompressed 24-bit RGB can be scaled: any other pixel layout (32-bit RGB above all) would come out
  // garbled, so such a stream makes no image at all.
  BITMAPINFOHEADER header;
  if (!mediaType || mediaType->subtype != MEDIASUBTYPE_RGB24 || !ReadBitmapHeader(*mediaType, &header) ||
      header.biBitCount != 24 || header.biCompression != BI_RGB) {
    return false;
  }
  const int32_t width = header.biWidth;
  // A negative height is a top-down frame: its first row in memory is the top one.
  const bool topDown = header.biHeight < 0;
  const int32_t height = topDown ? (header.biHeight == INT32_MIN ? 0 : -header.biHeight) : header.biHeight;
  if (ImageBytes(width, height) < 0) return false;
  *outWidth = width;
  *outHeight = height;
  *outTopDown = topDown;
  return true;
}

void CaptureDeviceManager::ScaleFrameToBmp(const uint8_t* data, int32_t length, void* context) {
  if (!context) return;
  auto* self = static_cast<CaptureDeviceManager*>(context);
  if (!data || (!self->m_previewBuffer && !self->m_keyFrameCallback)) return;

  const int32_t sourceWidth = self->m_sourceWidth;
  const int32_t sourceHeight = self->m_sourceHeight;
  const int64_t sourceBytes = ImageBytes(sourceWidth, sourceHeight);
  if (sourceBytes < 0) return;
  // Rows lie at the platform's stride (padded to 4 bytes); the last row needs only its pixels. A frame shorter
  // than that is never read past its end.
  const int64_t stride = SourceStride(sourceWidth);
  if (length < stride * (sourceHeight - 1) + sourceWidth * 3) return;
  self->m_previewFresh = false;
  if (self->m_previewBuffer) self->ScaleToPreview(data, stride);
  if (self->m_keyFrameCallback) self->MakeKeyFrame(data, stride);
}

void CaptureDeviceManager::ScaleToPreview(const uint8_t* data, int64_t stride) {
  const int32_t previewWidth = m_previewWidth;
  const int32_t previewHeight = m_previewHeight;
  const int64_t previewBytes = ImageBytes(previewWidth, previewHeight);
  if (previewBytes < 0) return;
  // The scaler writes exactly the preview size: never into a buffer of another size.
  if (previewBytes != m_previewBufferSize) return;

  // The preview image is bottom-up: a top-down frame is read from its last row backwards.
  const uint8_t* bottomRow = data;
  int32_t rowStep = static_cast<int32_t>(stride);
  if (m_sourceTopDown) {
    bottomRow = data + stride * (m_sourceHeight - 1);
    rowStep = -rowStep;
  }
  const int32_t scaled = ScaleImageBgr24(bottomRow, rowStep, m_sourceWidth, m_sourceHeight,
                                         m_previewBuffer.get(), previewWidth * 3, previewWidth,
                                         previewHeight);
  if (scaled <= 0) return;
  m_previewFresh = true;

  WriteBmpImage(m_bmpBytes, m_previewBuffer.get(), previewWidth, previewHeight,
                static_cast<size_t>(m_previewBufferSize));
  if (m_imageReadyCallback) m_imageReadyCallback(&m_bmpBytes, m_imageReadyContext);
}

void CaptureDeviceManager::MakeKeyFrame(const uint8_t* data, int64_t stride) {
  int32_t width = 0;
  int32_t height = 0;
  FitInto(m_sourceWidth, m_sourceHeight, m_keyBoxWidth, m_keyBoxHeight, &width, &height);
  const int64_t bytes = ImageBytes(width, height);
  if (bytes < 0) return;
  m_keyBuffer.resize(static_cast<size_t>(bytes));
  // The key frame is top-down; the preview image (bottom-up) serves when it holds at least as many pixels, so
  // the frame is read once whatever is made of it.
  int32_t scaled = 0;
  if (m_previewBuffer && m_previewFresh && m_previewWidth >= width && m_previewHeight >= height) {
    const int32_t previewStride = m_previewWidth * 3;
    scaled = ScaleImageBgr24(m_previewBuffer.get() + int64_t{previewStride} * (m_previewHeight - 1),
                             -previewStride, m_previewWidth, m_previewHeight, m_keyBuffer.data(), width * 3,
                             width, height);
  } else {
    const uint8_t* topRow = m_sourceTopDown ? data : data + stride * (m_sourceHeight - 1);
    const int32_t rowStep = static_cast<int32_t>(m_sourceTopDown ? stride : -stride);
    scaled = ScaleImageBgr24(topRow, rowStep, m_sourceWidth, m_sourceHeight, m_keyBuffer.data(), width * 3,
                             width, height);
  }
  if (scaled > 0) m_keyFrameCallback(m_keyBuffer.data(), width, height, m_keyFrameContext);
}
