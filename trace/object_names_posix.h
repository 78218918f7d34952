// The POSIX names of the trace facility's shared memory and mutex. Names there are visible to every user, and
// an owner-only object under a name shared by all would lock every other user out, so each user's objects
// carry the user id, as the debugger channel's address does.
#pragma once

#include <string>

namespace qvtrace {

// The shm_open name for the object the facility calls name (a shared-memory or mutex name): "/name_UID".
std::string SharedObjectPath(const wchar_t* name);

}  // namespace qvtrace
