// The program path and the path form that POSIX opens.
#include "host/plugin_folder.h"

#include <unistd.h>

std::string ProgramFilePath() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
  // readlink does not terminate the text; a result that fills the buffer may have been cut short.
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer)) return "";
  return std::string(buffer, static_cast<size_t>(length));
}

std::string LocalFilePath(const std::string& path) {
  // JoinPath writes "\" everywhere, which POSIX would take as part of a name.
  std::string local = path;
  for (char& c : local) {
    if (c == '\\') c = '/';
  }
  return local;
}
