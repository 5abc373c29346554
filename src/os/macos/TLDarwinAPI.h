#pragma once
// The Darwin interfaces the macOS sampling sources call. On a Mac these are the system's own
// headers. The unit tests of the conversion code build the same sources on other systems against
// declarations of the same names (tests/macos/TLDarwinFakes.h), whose definitions the tests
// control; that header is never part of a macOS build.
#if defined(__APPLE__)
#include <libproc.h>
#include <mach/mach.h>
#include <mach/mach_time.h>
#include <sys/resource.h>
#include <sys/sysctl.h>
#else
#include "TLDarwinFakes.h"
#endif
