// The POSIX names of the trace facility's objects.
#include "trace/object_names_posix.h"

#include <unistd.h>

#include "trace/trace_text.h"

namespace qvtrace {

std::string SharedObjectPath(const wchar_t* name) {
  return "/" + WideToUtf8(name) + "_" + std::to_string(geteuid());
}

}  // namespace qvtrace
