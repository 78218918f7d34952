// qvtrace on Windows: wide arguments from the system; the debugger lines go to the system's debugger output.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "tools/qvtrace/qvtrace_platform.h"

std::vector<std::wstring> CommandLineArguments(int, char**) {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (list == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(list[i]);
  LocalFree(list);
  return arguments;
}

int RunMonitor() {
  std::fprintf(stderr,
               "qvtrace: on Windows the lines go to the debugger output; watch them in a debugger or a debug "
               "output viewer\n");
  return 2;
}
