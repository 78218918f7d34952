// What qvtrace does differently per platform: reading its arguments and showing the debugger output.
#pragma once

#include <string>
#include <vector>

// The arguments after the program name, as wide text.
std::vector<std::wstring> CommandLineArguments(int argc, char** argv);

// Prints the trace facility's debugger lines until interrupted; returns the exit code.
int RunMonitor();
