#pragma once

// The modem lines (TIOCM_DTR, TIOCM_RTS, ... of <sys/ioctl.h>). Both fail with
// errno ENOTTY or EINVAL when the device has none.
#include <sys/ioctl.h>

namespace tarvesk_linux {

inline bool readModemLines(int fd, int &lines) { return ioctl(fd, TIOCMGET, &lines) == 0; }

inline bool changeModemLines(int fd, int lines, bool on) {
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &lines) == 0;
}

}  // namespace tarvesk_linux
