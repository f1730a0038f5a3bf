// Waiting for input: SetCommMask and WaitCommEvent. Only EV_RXCHAR exists.
#include <poll.h>

#include <cerrno>

#include "platform/posix/hang_up.h"
#include "platform/posix/port_record.h"

using tarvesk_posix::PortRecord;

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  PortRecord *port = tarvesk_posix::recordFor(hFile, (dwEvtMask & ~EV_RXCHAR) == 0);
  if (port == nullptr) {
    return FALSE;
  }
  port->eventMask = dwEvtMask;
  return TRUE;
}

// Blocks, without a time limit and without using the CPU, until input is
// queued (TRUE, EV_RXCHAR) or the device is gone (TRUE, no event; from then
// on ClearCommError fails).
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, OVERLAPPED *lpOverlapped) {
  PortRecord *port = tarvesk_posix::recordFor(hFile, lpOverlapped == nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  if ((port->eventMask & EV_RXCHAR) == 0) {
    errno = EINVAL;  // nothing to wait for
    return FALSE;
  }
  DWORD events = 0;
  while (!tarvesk_posix::isGone(*port)) {
    const unsigned long long takenBefore = port->bytesTaken;
    pollfd wait{port->fd, POLLIN, 0};
    if (poll(&wait, 1, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return FALSE;
    }
    if (tarvesk_posix::inputAfterWake(*port, wait.revents, takenBefore)) {
      events = EV_RXCHAR;
      break;
    }
  }
  if (lpEvtMask != nullptr) {
    *lpEvtMask = events;
  }
  return TRUE;
}
