// The one header through which every unit reaches Win32.
// On Windows it is <windows.h>; on Linux it is our stand-in for exactly the
// subset of Win32 the units call, backed by an in-memory machine for tests.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "standin/windows.h"
#endif
