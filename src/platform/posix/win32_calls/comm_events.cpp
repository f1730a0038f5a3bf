// Waiting for input: SetCommMask and WaitCommEvent. Only EV_RXCHAR exists.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/linux/device_gone.h"
#include "platform/posix/win32_calls/port_record.h"
#include "platform/posix/win32_calls/wait_in_progress.h"

using tarvesk_win32_calls::PortRecord;
using tarvesk_win32_calls::WaitInProgress;

namespace {

// Whether a SetCommMask has come since changesAtStart. The wake-up is drained
// before the count is read: a signal sent after that read stays for the next
// poll().
bool maskChangedSince(PortRecord &port, unsigned int changesAtStart) {
  tarvesk_win32_calls::drainWake(port.wakeFd);
  return port.maskChanges != changesAtStart;
}

}  // namespace

// Ends a WaitCommEvent in progress on the handle, as Win32 does. The mask and
// the count are stored before the wait is looked for: a wait that begins
// after that look reads the new count, and the new mask, when it starts.
BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  PortRecord *port = tarvesk_win32_calls::recordFor(hFile, (dwEvtMask & ~EV_RXCHAR) == 0);
  if (port == nullptr) {
    return FALSE;
  }
  port->eventMask = dwEvtMask;
  ++port->maskChanges;
  if (port->waiting) {
    tarvesk_win32_calls::signalWake(port->wakeFd);
  }
  return TRUE;
}

// Blocks, without a time limit and without using the CPU, until the device
// polls readable (TRUE, EV_RXCHAR), the device is gone (TRUE, no event; from
// then on ClearCommError fails) or SetCommMask is called on the handle (TRUE,
// no event). Readable does not promise input: another reader of the device
// may take it first, so the caller's count of the queue decides.
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, OVERLAPPED *lpOverlapped) {
  PortRecord *port =
      tarvesk_win32_calls::recordFor(hFile, lpEvtMask != nullptr && lpOverlapped == nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  const WaitInProgress wait(*port);
  // Counted before the mask is read: see SetCommMask.
  const unsigned int changesAtStart = port->maskChanges;
  if (!wait.isClaimed() || (port->eventMask & EV_RXCHAR) == 0) {
    errno = EINVAL;  // a wait in progress already, or nothing to wait for
    return FALSE;
  }
  DWORD events = 0;
  while (!tarvesk_linux::isGone(port->tty)) {
    pollfd waits[] = {{port->tty.fd, POLLIN, 0}, {port->wakeFd, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return FALSE;
    }
    if ((waits[1].revents != 0 && maskChangedSince(*port, changesAtStart)) ||
        tarvesk_linux::pollShowsGone(port->tty, waits[0].revents)) {
      break;
    }
    if ((waits[0].revents & POLLIN) != 0) {
      events = EV_RXCHAR;
      break;
    }
  }
  *lpEvtMask = events;
  return TRUE;
}
