// The command line on Windows: the system's UTF-16 text, split as the C runtime splits it, converted to UTF-8.
#include "host/process_arguments.h"

#include <windows.h>
#include <shellapi.h>

namespace {

std::string ToUtf8(const wchar_t* text) {
  // Unpaired surrogates become U+FFFD rather than failing the whole argument.
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.pop_back();  // the terminating zero
  return out;
}

}  // namespace

std::vector<std::string> ProcessArguments(int argc, char* argv[]) {
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (list == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(ToUtf8(list[i]));
  LocalFree(list);
  return arguments;
}
