// Queue status and hang-up: ClearCommError.
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/posix/hang_up.h"
#include "platform/posix/port_record.h"

// Fails once the device is gone, which is what ends a reader's wait for
// input. The output queue is asked first: the input count may wait for the
// kernel, and a read follows it at once. A pseudo-terminal is not asked: it
// keeps no output queue (what is written goes straight to its peer's input),
// so the kernel counts 0 for it however much waits for the peer, and a read
// that has waited for input is a system call quicker.
BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  tarvesk_posix::PortRecord *port = tarvesk_posix::recordFor(hFile);
  if (port == nullptr) {
    return FALSE;
  }
  int outQueue = 0;
  if (lpStat != nullptr && !port->isPseudoTerminal && !tarvesk_posix::isGone(*port) &&
      ioctl(port->fd, TIOCOUTQ, &outQueue) != 0) {
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
