// Modem lines, break and manual flow control: EscapeCommFunction.
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

#include "platform/posix/modem_lines.h"
#include "platform/posix/port_record.h"

namespace tarvesk_posix {

bool readModemLines(int fd, int &lines) { return ioctl(fd, TIOCMGET, &lines) == 0; }

bool changeModemLine(int fd, int line, bool on) {
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

}  // namespace tarvesk_posix

namespace {

// A pseudo-terminal takes TIOCSBRK without complaint but has no line to hold
// in break; saying it worked would be a lie.
BOOL setBreak(const tarvesk_posix::PortRecord &port, bool on) {
  if (port.isPseudoTerminal) {
    errno = ENOTTY;
    return FALSE;
  }
  return ioctl(port.fd, on ? TIOCSBRK : TIOCCBRK) == 0 ? TRUE : FALSE;
}

// RTS belongs to the kernel while it does RTS/CTS handshaking.
BOOL setRts(const tarvesk_posix::PortRecord &port, bool on) {
  if (port.dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    errno = EINVAL;
    return FALSE;
  }
  return tarvesk_posix::changeModemLine(port.fd, TIOCM_RTS, on) ? TRUE : FALSE;
}

}  // namespace

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  const tarvesk_posix::PortRecord *port = tarvesk_posix::recordFor(hFile);
  if (port == nullptr) {
    return FALSE;
  }
  switch (dwFunc) {
    case SETDTR:
      return tarvesk_posix::changeModemLine(port->fd, TIOCM_DTR, true) ? TRUE : FALSE;
    case CLRDTR:
      return tarvesk_posix::changeModemLine(port->fd, TIOCM_DTR, false) ? TRUE : FALSE;
    case SETRTS:
      return setRts(*port, true);
    case CLRRTS:
      return setRts(*port, false);
    case SETBREAK:
      return setBreak(*port, true);
    case CLRBREAK:
      return setBreak(*port, false);
    // As if XOFF / XON had been received: output stops / resumes.
    case SETXOFF:
      return ioctl(port->fd, TCXONC, TCOOFF) == 0 ? TRUE : FALSE;
    case SETXON:
      return ioctl(port->fd, TCXONC, TCOON) == 0 ? TRUE : FALSE;
    default:
      errno = EINVAL;
      return FALSE;
  }
}
