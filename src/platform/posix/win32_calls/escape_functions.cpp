// Raising DTR or RTS: EscapeCommFunction.
#include <sys/ioctl.h>

#include "platform/posix/linux/modem_lines.h"
#include "platform/posix/win32_calls/port_record.h"

namespace tarvesk_posix {

bool readModemLines(int fd, int &lines) { return ioctl(fd, TIOCMGET, &lines) == 0; }

bool changeModemLines(int fd, int lines, bool on) {
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &lines) == 0;
}

}  // namespace tarvesk_posix

// SETDTR and SETRTS; fails where the device has no modem lines (a
// pseudo-terminal).
BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  const tarvesk_posix::PortRecord *port =
      tarvesk_posix::recordFor(hFile, dwFunc == SETDTR || dwFunc == SETRTS);
  if (port == nullptr) {
    return FALSE;
  }
  return tarvesk_posix::changeModemLines(port->fd, dwFunc == SETDTR ? TIOCM_DTR : TIOCM_RTS, true)
             ? TRUE
             : FALSE;
}
