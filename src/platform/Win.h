#pragma once
// The one gateway to <windows.h>. Everything else includes this header, so that every unit sees the same
// target version and none of the macros that windows.h would otherwise define (min, max, ...).

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#ifndef WINVER
#define WINVER _WIN32_WINNT
#endif

#include <windows.h>
