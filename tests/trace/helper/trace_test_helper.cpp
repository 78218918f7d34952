// A second process for the trace tests: trace_test_helper BASE_NAME COMMAND [COUNT].
//   hold   register, print "PID TID", write a "tick N" line every 5 ms until input comes (or ends); unregister
//   lock   take the trace lock, print "locked" and keep it until input comes (or ends), then let it go and end
//   cycle  COUNT times: register, one line, unregister quietly; then print "done"
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  TraceSetObjectNamesForTesting(qvtrace::Utf8ToWide(argv[1]).c_str());
  const std::string command = argv[2];
  if (command == "hold") {
    if (TraceInitEx() != 1) return 1;
    std::printf("%u %u\n", TraceCurrentProcessId(), TraceCurrentThreadId());
    std::fflush(stdout);
    struct pollfd input = {0, POLLIN, 0};
    for (int tick = 0; poll(&input, 1, 5) == 0; ++tick) TraceMessage(1, 0xFFFFFFFF, L"tick %d", tick);
    TraceTerminateThread(TraceCurrentThreadId(), 1, 0);
    return 0;
  }
  if (command == "lock") {
    TraceLock();
    std::printf("locked\n");
    std::fflush(stdout);
    struct pollfd input = {0, POLLIN, 0};
    while (poll(&input, 1, -1) < 0) {
    }
    TraceUnlock();
    return 0;
  }
  if (command == "cycle" && argc >= 4) {
    for (int i = 0; i < std::atoi(argv[3]); ++i) {
      if (TraceInitEx() != 1) return 1;
      TraceMessage(1, 0xFFFFFFFF, L"cycle %d", i);
      TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    }
    std::printf("done\n");
    return 0;
  }
  return 2;
}
