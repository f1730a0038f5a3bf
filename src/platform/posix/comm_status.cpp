// Queue status and hang-up: ClearCommError.
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/posix/port_record.h"

namespace tarvesk_posix {

namespace {

// FIONREAD; a hung-up tty answers every ioctl with EIO, which marks the record.
bool countInput(PortRecord &port, int &queued) {
  if (ioctl(port.fd, FIONREAD, &queued) != 0) {
    queued = 0;
    port.hungUp = true;
    return false;
  }
  return true;
}

}  // namespace

bool queuedInput(PortRecord &port, int &queued) {
  queued = 0;
  // Once a read has found the device gone, nothing more can be read from it,
  // whatever a pulled-out adapter still claims to hold.
  if (port.hungUp || !countInput(port, queued)) {
    return false;
  }
  if (queued > 0) {
    return true;  // what arrived before a hang-up is still to be read
  }
  // FIONREAD counts only what the line discipline holds, not what the kernel
  // is still handing it from the driver; poll() waits for that hand-over, so
  // input that has arrived is counted now rather than after a wait for it.
  pollfd probe{port.fd, POLLIN, 0};
  const int ready = poll(&probe, 1, 0);
  if (ready == 1 && (probe.revents & POLLIN) != 0 && !countInput(port, queued)) {
    return false;
  }
  if (queued > 0) {
    return true;
  }
  queued = 0;
  if (ready == 1 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    port.hungUp = true;
    return false;
  }
  return true;
}

}  // namespace tarvesk_posix

// Line errors are not tracked, so the error word is always 0. Fails once the
// device is gone, which is what ends a reader's wait for input. The output
// queue is asked first: the input count may wait for the kernel, and a read
// follows it at once.
BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  tarvesk_posix::PortRecord *port = tarvesk_posix::recordOf(hFile);
  if (port == nullptr) {
    errno = EBADF;
    return FALSE;
  }
  int outQueue = 0;
  if (lpStat != nullptr && !port->hungUp && ioctl(port->fd, TIOCOUTQ, &outQueue) != 0) {
    outQueue = 0;
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
    lpStat->cbInQue = static_cast<DWORD>(inQueue);
    lpStat->cbOutQue = outQueue > 0 ? static_cast<DWORD>(outQueue) : 0;
  }
  return TRUE;
}
