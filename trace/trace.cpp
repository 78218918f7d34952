// Placeholder bodies so users of trace/trace.h link while the facility is being built.
#include "trace/trace.h"

int32_t TraceInitEx() { return 0; }
void TraceTerminateThread(uint32_t, int32_t, int32_t) {}
void TraceMessage(int32_t, uint32_t, const wchar_t*, ...) {}
void TraceSetThreadName(uint32_t, const char*) {}
void TraceSetVerboseLevel(int32_t) {}
void TraceSetContext(uint32_t) {}
uint32_t TraceCurrentProcessId() { return 0; }
uint32_t TraceCurrentThreadId() { return 0; }
void TraceLock() {}
void TraceUnlock() {}
qvtrace::ThreadInfo* QVTRACE_GetThreadInfoPtr(uint32_t, uint32_t, int32_t, int32_t) { return nullptr; }
