// The comm state, a DCB carried by termios: GetCommState and SetCommState.
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

#include "platform/posix/linux/device_gone.h"
#include "platform/posix/linux/line_settings.h"
#include "platform/posix/linux/modem_lines.h"
#include "platform/posix/win32_calls/dcb_termios.h"
#include "platform/posix/win32_calls/port_record.h"

namespace {

using tarvesk_linux::TtySettings;
using tarvesk_win32_calls::PortRecord;

// DTR and RTS on where the DCB enables them, and checked; a line it leaves
// off or to the handshake stays as the device holds it.
bool raiseModemLines(int fd, const DCB &dcb) {
  const int raised = (dcb.fDtrControl == DTR_CONTROL_ENABLE ? TIOCM_DTR : 0) |
                     (dcb.fRtsControl == RTS_CONTROL_ENABLE ? TIOCM_RTS : 0);
  int lines = 0;
  return raised == 0 || (tarvesk_linux::changeModemLines(fd, raised, true) &&
                         tarvesk_linux::readModemLines(fd, lines) && (lines & raised) == raised);
}

void restore(int fd, const TtySettings &before, bool hasModemLines, int linesBefore) {
  tarvesk_linux::writeTtySettings(fd, before);
  if (hasModemLines) {
    // Only raised: lowering those that were low restores them.
    tarvesk_linux::changeModemLines(fd, (TIOCM_DTR | TIOCM_RTS) & ~linesBefore, false);
  }
}

}  // namespace

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  const PortRecord *port = tarvesk_win32_calls::recordFor(hFile, lpDCB != nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  *lpDCB = port->dcb;
  return TRUE;
}

// Either every value of the DCB is honoured, or the device is left exactly as
// it was and the call fails.
BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  PortRecord *port = tarvesk_win32_calls::recordFor(hFile, lpDCB != nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  // A pulled-out adapter may still answer ioctls; it has no line to set.
  if (tarvesk_linux::isGone(port->tty)) {
    errno = EIO;
    return FALSE;
  }
  TtySettings before{};
  if (!tarvesk_linux::readTtySettings(port->tty.fd, before)) {
    return FALSE;
  }
  int linesBefore = 0;
  const bool hasModemLines = tarvesk_linux::readModemLines(port->tty.fd, linesBefore);
  if (!hasModemLines && errno != ENOTTY && errno != EINVAL) {
    return FALSE;  // the device did not answer at all
  }
  const std::optional<TtySettings> wanted = tarvesk_win32_calls::ttySettingsForDcb(
      *lpDCB, before, !hasModemLines || (linesBefore & TIOCM_DTR) != 0,
      !hasModemLines || (linesBefore & TIOCM_RTS) != 0);
  if (!wanted) {
    errno = EINVAL;
    return FALSE;
  }

  if (!tarvesk_linux::applyLineSettings(port->tty, *wanted) ||
      (hasModemLines && !raiseModemLines(port->tty.fd, *lpDCB))) {
    restore(port->tty.fd, before, hasModemLines, linesBefore);
    errno = EINVAL;
    return FALSE;
  }
  port->dcb = *lpDCB;
  port->dcb.DCBlength = sizeof(DCB);
  return TRUE;
}
