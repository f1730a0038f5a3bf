// Waiting for input: SetCommMask and WaitCommEvent. Only EV_RXCHAR exists.
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>

#include <cerrno>

#include "platform/posix/port_record.h"

namespace {

using tarvesk_posix::PortRecord;

// A second look, after a moment, before calling a readable-but-empty device
// gone.
constexpr long kRecheckNanoseconds = 10'000'000;

int queuedBytes(int fd) {
  int queued = 0;
  return ioctl(fd, FIONREAD, &queued) == 0 ? queued : -1;
}

// poll() said readable, yet nothing is queued, and still is after a moment,
// and no ReadFile on this handle has taken a byte since takenBefore: then
// nobody took the input, the device only claims to have some.
bool readableButNothingTaken(const PortRecord &port, unsigned long long takenBefore) {
  const timespec pause{0, kRecheckNanoseconds};
  nanosleep(&pause, nullptr);
  pollfd probe{port.fd, POLLIN, 0};
  return poll(&probe, 1, 0) == 1 && queuedBytes(port.fd) <= 0 && port.bytesTaken == takenBefore;
}

}  // namespace

// Any other event would never be reported, so asking for one fails at once
// instead of leaving a WaitCommEvent that never ends.
BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  PortRecord *port = tarvesk_posix::recordOf(hFile);
  if (port == nullptr || (dwEvtMask & ~EV_RXCHAR) != 0) {
    errno = port == nullptr ? EBADF : EINVAL;
    return FALSE;
  }
  port->eventMask = dwEvtMask;
  return TRUE;
}

// Blocks, without a time limit and without using the CPU, until input is
// queued (TRUE, EV_RXCHAR) or the device hangs up (TRUE, no event; the record
// is marked so that ClearCommError fails from then on).
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, OVERLAPPED *lpOverlapped) {
  PortRecord *port = tarvesk_posix::recordOf(hFile);
  if (port == nullptr || lpOverlapped != nullptr || (port->eventMask & EV_RXCHAR) == 0) {
    errno = port == nullptr ? EBADF : EINVAL;
    return FALSE;
  }
  DWORD events = 0;
  while (!port->hungUp) {
    const unsigned long long takenBefore = port->bytesTaken;
    pollfd wait{port->fd, POLLIN, 0};
    if (poll(&wait, 1, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return FALSE;
    }
    if (queuedBytes(port->fd) > 0) {
      events = EV_RXCHAR;
      break;
    }
    // A removed USB adapter or a closed pty master reads as "readable" (or
    // hung up) with nothing to read; left alone, that would wake this wait
    // again and again. Input that another reader of this handle took between
    // the poll and the count is no such sign: the wait goes on.
    if ((wait.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ||
        readableButNothingTaken(*port, takenBefore)) {
      port->hungUp = true;
    }
  }
  if (lpEvtMask != nullptr) {
    *lpEvtMask = events;
  }
  return TRUE;
}
