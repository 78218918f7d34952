// The command line on POSIX: the bytes the process was given, unchanged.
#include "host/process_arguments.h"

std::vector<std::string> ProcessArguments(int argc, char* argv[]) {
  return std::vector<std::string>(argv, argv + argc);
}
