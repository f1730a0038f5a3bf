// Queue status and hang-up: ClearCommError.
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/posix/port_record.h"

namespace tarvesk_posix {

bool queuedInput(PortRecord &port, int &queued) {
  queued = 0;
  // Once a read has found the device gone, nothing more can be read from it,
  // whatever a pulled-out adapter still claims to hold.
  if (port.hungUp) {
    return false;
  }
  if (ioctl(port.fd, FIONREAD, &queued) != 0) {
    port.hungUp = true;  // a hung-up tty answers every ioctl with EIO
    return false;
  }
  if (queued > 0) {
    return true;  // what arrived before a hang-up is still to be read
  }
  queued = 0;
  pollfd probe{port.fd, POLLIN, 0};
  if (poll(&probe, 1, 0) == 1 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    port.hungUp = true;
    return false;
  }
  return true;
}

}  // namespace tarvesk_posix

// Line errors are not tracked, so the error word is always 0. Fails once the
// device is gone, which is what ends a reader's wait for input.
BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  tarvesk_posix::PortRecord *port = tarvesk_posix::recordOf(hFile);
  if (port == nullptr) {
    errno = EBADF;
    return FALSE;
  }
  int inQueue = 0;
  if (!tarvesk_posix::queuedInput(*port, inQueue)) {
    errno = EIO;
    return FALSE;
  }
  if (lpErrors != nullptr) {
    *lpErrors = 0;
  }
  if (lpStat != nullptr) {
    *lpStat = COMSTAT{};
    int outQueue = 0;
    lpStat->cbInQue = static_cast<DWORD>(inQueue);
    if (ioctl(port->fd, TIOCOUTQ, &outQueue) == 0 && outQueue > 0) {
      lpStat->cbOutQue = static_cast<DWORD>(outQueue);
    }
  }
  return TRUE;
}
