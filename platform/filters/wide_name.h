// Names of filters and pins: zero-terminated wide strings, copied into the fixed arrays of FILTER_INFO and
// PIN_INFO.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/com.h"

namespace filters {

inline size_t WideLength(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Copies name into the array to of capacity characters, cut to capacity - 1 and terminated.
template <size_t capacity>
void CopyWideName(const WCHAR* name, WCHAR (&to)[capacity]) {
  size_t n = WideLength(name);
  if (n > capacity - 1) n = capacity - 1;
  std::memcpy(to, name, n * sizeof(WCHAR));
  to[n] = 0;
}

}  // namespace filters
