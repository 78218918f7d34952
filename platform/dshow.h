// DirectShow for product code: the system headers on Windows, the project's own layer elsewhere.
#pragma once

#include "platform/com.h"

#ifdef _WIN32
// mingw's dshow.h pulls in strsafe.h, which would otherwise poison swprintf and friends.
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <dshow.h>
#include <dvdmedia.h>
#include <ks.h>
#include <ksproxy.h>
#else
#include "platform/posix/dshow_posix.h"
#endif
