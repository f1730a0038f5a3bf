#pragma once

// Why a serial device did not open, in words that point at the fix: a
// missing device needs plugging in, a busy one its owner to let go, a
// forbidden one the user added to the device's group.
#include <string>

namespace tarvesk_linux {

// One line, "tarvesk: <name> (<path>): <cause>\n", for the name asked for,
// the device path it resolved to (empty: none) and the errno of the step
// that failed: EWOULDBLOCK for the device's flock, EBUSY for a TIOCEXCL
// claim, ENOTTY for a file that is no tty, or what open() left. Looks at the
// device, the process's groups and /proc/locks as they are now.
std::string openFailureLine(const std::string &name, const std::string &path, int error);

}  // namespace tarvesk_linux
