// Raising DTR or RTS: EscapeCommFunction.
#include "platform/posix/linux/modem_lines.h"
#include "platform/posix/win32_calls/port_record.h"

// SETDTR and SETRTS; fails where the device has no modem lines (a
// pseudo-terminal).
BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  const auto *port = tarvesk_win32_calls::recordFor(hFile, dwFunc == SETDTR || dwFunc == SETRTS);
  if (port == nullptr) {
    return FALSE;
  }
  return tarvesk_linux::changeModemLines(port->tty.fd, dwFunc == SETDTR ? TIOCM_DTR : TIOCM_RTS,
                                         true)
             ? TRUE
             : FALSE;
}
