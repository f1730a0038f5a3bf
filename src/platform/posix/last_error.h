#pragma once

#include "platform/platform.h"

namespace tarvesk_posix {

// The Win32 error code for an errno value: what GetLastError reports after a
// call that failed, and what the registry functions return.
DWORD win32Error(int error);

}  // namespace tarvesk_posix
