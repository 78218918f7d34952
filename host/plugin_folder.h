// Finding the plug-in folder (the nearest folder above the program file whose name has the extension
// ".pxPlugin") and the path operations it uses. Paths are narrow strings; both "\" and "/" separate.
// The path operations are pure and follow Windows conventions on every platform.
#pragma once

#include <string>

// The plug-in folder, or "" when it cannot be determined. A found folder is cached for the process; a failed
// search is not. Main thread only.
std::string FindPluginFolder();

// The search itself, from a given program file path: "" when no ancestor qualifies before a root.
std::string FindPluginFolderFrom(const std::string& programPath);

// The full path of the running program file, or "" when the system cannot tell (or it does not fit).
std::string ProgramFilePath();

// A path produced by JoinPath (which writes "\" throughout) in the form this platform opens.
std::string LocalFilePath(const std::string& path);

std::string LastPathComponent(const std::string& path);
std::string ParentPath(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
bool IsNetworkShareRoot(const std::string& path);
