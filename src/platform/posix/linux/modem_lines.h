#pragma once

// The modem lines (TIOCM_DTR, TIOCM_RTS, ... of <sys/ioctl.h>). Both fail with
// errno ENOTTY or EINVAL when the device has none.
namespace tarvesk_posix {

bool readModemLines(int fd, int &lines);
bool changeModemLines(int fd, int lines, bool on);

}  // namespace tarvesk_posix
