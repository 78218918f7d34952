// A second process for the trace tests: trace_test_helper BASE_NAME COMMAND [COUNT].
//   hold   register, print "PID TID", write a "tick N" line every 5 ms; "quit" on stdin (or its end) unregisters
//   lock   take the trace lock, print "locked" and wait to be killed
//   cycle  COUNT times: register, one line, unregister quietly; then print "done"
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

namespace {

int Hold() {
  if (TraceInitEx() != 1) return 1;
  std::printf("%u %u\n", TraceCurrentProcessId(), TraceCurrentThreadId());
  std::fflush(stdout);
  std::string pending;
  for (int tick = 0;; ++tick) {
    TraceMessage(1, 0xFFFFFFFF, L"tick %d", tick);
    struct pollfd input = {0, POLLIN, 0};
    if (poll(&input, 1, 5) > 0) {
      char buffer[256];
      ssize_t n = read(0, buffer, sizeof(buffer));
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      if (pending.find("quit") != std::string::npos) break;
    }
  }
  TraceTerminateThread(TraceCurrentThreadId(), 1, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  TraceSetObjectNamesForTesting(qvtrace::Utf8ToWide(argv[1]).c_str());
  const std::string command = argv[2];
  if (command == "hold") return Hold();
  if (command == "lock") {
    TraceLock();
    std::printf("locked\n");
    std::fflush(stdout);
    for (;;) pause();
  }
  if (command == "cycle" && argc >= 4) {
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
      if (TraceInitEx() != 1) return 1;
      TraceMessage(1, 0xFFFFFFFF, L"cycle %d", i);
      TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    }
    std::printf("done\n");
    return 0;
  }
  return 2;
}
