// COM basics for product code: the system headers on Windows, the project's own layer elsewhere.
#pragma once

#ifdef _WIN32
#include <winsock2.h>  // before windows.h, which would otherwise pull in the old winsock
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#else
#include "platform/posix/com_posix.h"
#endif
