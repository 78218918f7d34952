// The plug-in folder search and the path operations, as pure string functions.
#include "host/plugin_folder.h"

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// "\" wins when the path holds one anywhere; otherwise "/" (also for a path with neither).
char SeparatorOf(const std::string& path) {
  return path.find('\\') != std::string::npos ? '\\' : '/';
}

// Removes trailing separators while the text is longer than one separator.
std::string TrimTrailingSeparators(std::string text, char separator) {
  while (text.size() > 1 && text.back() == separator) text.pop_back();
  return text;
}

std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return "";
  return name.substr(dot);
}

std::string g_pluginFolder;  // cached once found; main thread only

}  // namespace

std::string LastPathComponent(const std::string& path) {
  const bool hasBackslash = path.find('\\') != std::string::npos;
  if (!hasBackslash && path.find('/') == std::string::npos) return path;
  const char separator = hasBackslash ? '\\' : '/';
  if (separator == '\\' && EndsWith(path, ":\\")) return path;
  const std::string trimmed = TrimTrailingSeparators(path, separator);
  if (trimmed.empty() || trimmed == std::string(1, separator)) return std::string(1, separator);
  const size_t last = trimmed.rfind(separator);
  return last == std::string::npos ? trimmed : trimmed.substr(last + 1);
}

std::string ParentPath(const std::string& path) {
  const char separator = SeparatorOf(path);
  if (EndsWith(path, std::string(":") + separator) || IsNetworkShareRoot(path)) return path;
  const std::string trimmed = TrimTrailingSeparators(path, separator);
  const size_t last = trimmed.rfind(separator);
  if (last == std::string::npos) {
    return EndsWith(trimmed, ":") ? trimmed + separator : std::string();
  }
  std::string head = trimmed.substr(0, last);
  if (EndsWith(head, ":\\")) return head;
  if (EndsWith(head, ":")) return head + "\\";
  while (!head.empty() && head.back() == separator) head.pop_back();
  if (head.empty() && separator == '/') return "/";
  return head;
}

bool IsNetworkShareRoot(const std::string& path) {
  if (path.empty()) return false;
  const char separator = SeparatorOf(path);
  if (path.size() < 2 || path[0] != separator || path[1] != separator) return false;
  size_t count = 0;
  for (size_t i = 2; i < path.size(); ++i) {
    if (path[i] == separator) ++count;
  }
  return count <= 1;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
  const bool folderEnds = isSeparator(folder.back());
  const bool nameStarts = !name.empty() && isSeparator(name.front());
  std::string joined;
  if (folderEnds && nameStarts) {
    joined = folder + name.substr(1);
  } else if (folderEnds || nameStarts) {
    joined = folder + name;
  } else {
    joined = folder + "\\" + name;
  }
  for (char& c : joined) {
    if (c == '/') c = '\\';
  }
  return joined;
}

std::string FindPluginFolderFrom(const std::string& programPath) {
  std::string p = programPath;
  for (;;) {
    if (p.empty()) return "";
    if (p == "/" || EndsWith(p, ":\\")) return "";
    if (ExtensionOf(LastPathComponent(p)) == ".pxPlugin") return p;
    std::string q = ParentPath(p);
    if (q == p) return "";
    p = std::move(q);
  }
}

std::string FindPluginFolder() {
  if (!g_pluginFolder.empty()) return g_pluginFolder;
  const std::string programPath = ProgramFilePath();
  if (programPath.empty()) return "";
  g_pluginFolder = FindPluginFolderFrom(programPath);
  return g_pluginFolder;
}
