// INorvexSink: the preview renderer's own interface, and the sample callback it delivers through.
//
// Threads: the control thread (the one that builds, runs and stops the graph) calls both operations; the
// callback runs on the capture pin's streaming thread while the renderer holds its callback lock.
#pragma once

#include <cstdint>

#include "platform/dshow.h"

// Called once for every sample with data, synchronously on the streaming thread, under the renderer's
// callback lock (so one sample at a time).
//   data, length   the sample's buffer in place and its valid byte count (at least 1); valid only during the call.
//   start          start time in 100-ns units, 0 when the sample has no time.
//   duration       stop minus start, 0 when the sample has no time.
//   discontinuity, syncPoint   1 when the sample reports it, else 0.
//   mediaType      null, or a type valid only during the call; the callback neither keeps nor frees it.
//   context        the value given to SetSampleCallback.
// The result is ignored. An exception leaving the callback is caught by the renderer and the sample dropped.
using SampleCallback = int32_t (*)(const uint8_t* data, int32_t length, int64_t start, int64_t duration,
                                   int32_t discontinuity, int32_t syncPoint, const AM_MEDIA_TYPE* mediaType,
                                   void* context);

// {A11580C9-E274-40F4-B126-EE26E44D917E}
inline constexpr IID IID_INorvexSink = {0xa11580c9, 0xe274, 0x40f4, {0xb1, 0x26, 0xee, 0x26, 0xe4, 0x4d, 0x91, 0x7e}};

struct INorvexSink : public IUnknown {
  // Installs the callback and its context (either may be null; a null callback turns delivery off).
  // Waits for a callback in progress on the streaming thread to return: once this has returned, the previous
  // callback is neither running nor called again. This is the hand-over point for whatever the callback
  // reads: call SetSampleCallback(nullptr, nullptr), change the callback's data, then install the callback
  // again. The caller must not hold anything the callback waits for. Called from inside the callback itself it
  // returns at once (the lock is recursive). Always S_OK.
  virtual HRESULT STDMETHODCALLTYPE SetSampleCallback(SampleCallback callback, void* context) = 0;

  // Names the streaming thread for the debugger: the next sample announces the thread under this name (at
  // most 255 characters are kept). E_POINTER for a null name. Takes no lock: call it before the graph runs.
  virtual HRESULT STDMETHODCALLTYPE SetStreamThreadName(const char* name) = 0;
};
