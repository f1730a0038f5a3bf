// Queue status and hang-up: ClearCommError.
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/posix/port_record.h"

namespace tarvesk_posix {

bool deviceGone(PortRecord &port) {
  int queued = 0;
  if (ioctl(port.fd, FIONREAD, &queued) != 0) {
    port.hungUp = true;  // a hung-up tty answers every ioctl with EIO
    return true;
  }
  if (queued > 0) {
    return false;  // what arrived before the hang-up is still to be read
  }
  if (port.hungUp) {
    return true;
  }
  pollfd probe{port.fd, POLLIN, 0};
  if (poll(&probe, 1, 0) == 1 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    port.hungUp = true;
    return true;
  }
  return false;
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
  if (tarvesk_posix::deviceGone(*port)) {
    errno = EIO;
    return FALSE;
  }
  if (lpErrors != nullptr) {
    *lpErrors = 0;
  }
  if (lpStat != nullptr) {
    *lpStat = COMSTAT{};
    int inQueue = 0;
    int outQueue = 0;
    if (ioctl(port->fd, FIONREAD, &inQueue) == 0 && inQueue > 0) {
      lpStat->cbInQue = static_cast<DWORD>(inQueue);
    }
    if (ioctl(port->fd, TIOCOUTQ, &outQueue) == 0 && outQueue > 0) {
      lpStat->cbOutQue = static_cast<DWORD>(outQueue);
    }
  }
  return TRUE;
}
