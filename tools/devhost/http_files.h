// The file side of pnx-devhost's web mode: which file a request path names, and the headers every answer
// carries. Pure functions apart from the file-system look-ups of ResolveServedFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes %XX escapes; false when an escape is malformed or decodes to a NUL byte.
bool PercentDecode(const std::string& text, std::string& out);

// The regular file that relativePath (still percent-encoded, query already removed) names inside root, as a
// real path, or "" when it must not be served: a malformed escape, an empty or absolute path, a backslash, a
// "." or ".." segment, a file that does not exist or is not a regular file, or one whose real path (symbolic
// links resolved) lies outside root's real path.
std::string ResolveServedFile(const std::string& root, const std::string& relativePath);

// Content-Type for a file name, by its extension; application/octet-stream for anything unknown.
std::string ContentTypeFor(const std::string& path);

// True for the kinds of file the pages load (pages, scripts, styles, JSON, images): only these are served.
bool IsPageFile(const std::string& path);

// The Content-Security-Policy of every answer: only this server's own origin and its WebSocket under either
// of its names (the inspector connects to 127.0.0.1 even on a page opened as localhost).
std::string ContentSecurityPolicy(uint16_t port);

// Reads a whole file of at most maxBytes; false when it cannot be read or is larger.
bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string& bytes);

// Percent-encodes everything but the unreserved characters (for a query-string value).
std::string PercentEncode(const std::string& text);
