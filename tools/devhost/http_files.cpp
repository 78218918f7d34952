// The file side of pnx-devhost's web mode.
#include "tools/devhost/http_files.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool PercentDecode(const std::string& text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

std::string ResolveServedFile(const std::string& root, const std::string& relativePath) {
  std::string path;
  if (!PercentDecode(relativePath, path)) return "";
  if (path.empty() || path.front() == '/' || path.find('\\') != std::string::npos ||
      path.find('\0') != std::string::npos) {
    return "";
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return "";
    start = end + 1;
  }
  const std::string realRoot = RealPath(root);
  if (realRoot.empty()) return "";
  const std::string real = RealPath(realRoot + "/" + path);
  if (real.empty()) return "";
  const std::string prefix = EndsWith(realRoot, "/") ? realRoot : realRoot + "/";
  if (real.compare(0, prefix.size(), prefix) != 0) return "";
  struct stat info {};
  if (stat(real.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
  return real;
}

std::string ContentTypeFor(const std::string& path) {
  static const struct {
    const char* extension;
    const char* type;
  } kTypes[] = {
      {".html", "text/html; charset=utf-8"},  {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},          {".svg", "image/svg+xml"},
      {".png", "image/png"},                  {".bmp", "image/bmp"},
  };
  for (const auto& t : kTypes) {
    if (EndsWith(path, t.extension)) return t.type;
  }
  return "application/octet-stream";
}

std::string ContentSecurityPolicy(uint16_t port) {
  const std::string portText = std::to_string(port);
  return "default-src 'self'; img-src 'self' data: blob:; connect-src 'self' ws://127.0.0.1:" + portText +
         " ws://localhost:" + portText +
         "; frame-src 'self'; object-src 'none'; base-uri 'none'; frame-ancestors 'self'";
}

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (size < 0 || static_cast<unsigned long long>(size) > maxBytes) return false;
  file.seekg(0);
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return bytes.size() == static_cast<size_t>(size);
}

bool IsPageFile(const std::string& path) { return ContentTypeFor(path) != "application/octet-stream"; }
