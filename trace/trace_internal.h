// The trace facility's inner operations, for the control tool, the tests and the benchmarks; product code uses
// trace/trace.h, and the facility's own files include only the headers of the parts they use. These operations
// wait for the system-wide mutex without limit; pointers into the shared memory are valid only while the caller
// holds TraceLock.
#pragma once

#include "trace/trace.h"
#include "trace/trace_lines.h"
#include "trace/trace_log_writer.h"
#include "trace/trace_notices.h"
#include "trace/trace_records.h"
#include "trace/trace_shared_block.h"
