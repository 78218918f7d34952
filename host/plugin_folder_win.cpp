// The program path and the path form that Windows opens.
#include "host/plugin_folder.h"

#include <windows.h>

std::string ProgramFilePath() {
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  // A result that fills the buffer has been cut short (and may lack its terminator).
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(buffer, length);
}

std::string LocalFilePath(const std::string& path) { return path; }
