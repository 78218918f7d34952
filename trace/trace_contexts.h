// The plug-in's trace levels and context bits, as `qvtrace set --level N --context MASK` selects them.
#pragma once

#include <cstdint>

constexpr int32_t kTraceMessage = 1;  // "MSG ": what happened (events, device operations, graph and preview)
constexpr int32_t kTraceError = 2;    // "ERR ": a failure
constexpr int32_t kTraceWarning = 3;  // "WRN "
constexpr int32_t kTraceDetail = 5;   // per frame; shown only with --level 5

constexpr uint32_t kTraceHost = 0x1;     // host events
constexpr uint32_t kTraceDevice = 0x2;   // device operations and device changes
constexpr uint32_t kTracePreview = 0x4;  // graph state and preview
