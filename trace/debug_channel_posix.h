// The POSIX stand-in for the debugger output: trace notices and lines travel as datagrams over a local socket
// named after the shared-memory name and the user; `qvtrace monitor` (or a test) binds it and reads them.
// Only datagrams sent by the same user are accepted by the reader.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace qvtrace {

// The channel's address in the abstract socket namespace (starts with a zero byte).
std::string DebugChannelAddress(const wchar_t* baseName);
socklen_t FillDebugChannelAddress(const std::string& address, struct sockaddr_un* out);

// A socket bound to the channel, or -1 (another reader has it, or no socket could be made).
int OpenDebugMonitor(const wchar_t* baseName);
// The next datagram's text from the same user; false when none came within timeoutMs (negative: wait forever).
bool ReadDebugMonitor(int socket, std::string* text, int timeoutMs);

}  // namespace qvtrace
