// qvtrace on POSIX: UTF-8 arguments; the debugger lines come from the facility's local datagram channel.
#include <cstdio>
#include <string>

#include "tools/qvtrace/qvtrace_platform.h"
#include "trace/debug_channel_posix.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

std::vector<std::wstring> CommandLineArguments(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(qvtrace::Utf8ToWide(argv[i]));
  return arguments;
}

int RunMonitor() {
  int socket = qvtrace::OpenDebugMonitor(TraceCacheName());
  if (socket < 0) {
    std::fprintf(stderr, "qvtrace: cannot listen to the debugger output (is another monitor running?)\n");
    return 2;
  }
  std::string text;
  while (qvtrace::ReadDebugMonitor(socket, &text, -1)) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
  return 0;
}
