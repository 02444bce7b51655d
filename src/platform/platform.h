// The one header product code includes to reach the operating system.
// On Windows it is the real ANSI Win32 API; on the Linux host it is our simulated platform,
// which offers the same names, types and constants so that the same sources build for tests.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The storage queries of the drive survey; <windows.h> leaves them out.
#include <winioctl.h>
#else
#include "sim/sim_win32.h"
#endif
