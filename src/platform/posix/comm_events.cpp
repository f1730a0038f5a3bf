// Waiting for input: SetCommMask and WaitCommEvent. Only EV_RXCHAR exists.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/hang_up.h"
#include "platform/posix/port_record.h"

using tarvesk_posix::PortRecord;

namespace {

// Claims the one wait a handle may have in progress, as on Win32.
class WaitInProgress {
 public:
  explicit WaitInProgress(PortRecord &port) : port(port), claimed(!port.waiting.exchange(true)) {}
  ~WaitInProgress() {
    if (claimed) {
      port.waiting = false;
    }
  }
  WaitInProgress(const WaitInProgress &) = delete;
  WaitInProgress &operator=(const WaitInProgress &) = delete;

  bool isClaimed() const { return claimed; }

 private:
  PortRecord &port;
  bool claimed;
};

// Whether a SetCommMask has come since changesAtStart. The wake-up is drained
// before the count is read: a signal sent after that read stays for the next
// poll().
bool maskChangedSince(PortRecord &port, unsigned int changesAtStart) {
  std::uint64_t signals = 0;
  while (read(port.wakeFd, &signals, sizeof signals) < 0 && errno == EINTR) {
  }
  return port.maskChanges != changesAtStart;
}

}  // namespace

// Ends a WaitCommEvent in progress on the handle, as Win32 does. The mask and
// the count are stored before the wait is looked for: a wait that begins
// after that look reads the new count, and the new mask, when it starts.
BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  PortRecord *port = tarvesk_posix::recordFor(hFile, (dwEvtMask & ~EV_RXCHAR) == 0);
  if (port == nullptr) {
    return FALSE;
  }
  port->eventMask = dwEvtMask;
  ++port->maskChanges;
  if (port->waiting) {
    const std::uint64_t one = 1;
    const ssize_t sent = write(port->wakeFd, &one, sizeof one);  // fails only on overflow
    static_cast<void>(sent);
  }
  return TRUE;
}

// Blocks, without a time limit and without using the CPU, until input is
// queued (TRUE, EV_RXCHAR), the device is gone (TRUE, no event; from then on
// ClearCommError fails) or SetCommMask is called on the handle (TRUE, no
// event). Input that another reader of the device takes first does not end
// it.
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, OVERLAPPED *lpOverlapped) {
  PortRecord *port = tarvesk_posix::recordFor(hFile, lpOverlapped == nullptr);
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
  int pauseMs = 0;
  bool pausing = false;  // the device said readable with nothing to read
  while (!tarvesk_posix::isGone(*port)) {
    // While pausing, only a hang-up (reported whatever is asked) or the
    // wake-up ends the poll early.
    pollfd waits[] = {{port->fd, static_cast<short>(pausing ? 0 : POLLIN), 0},
                      {port->wakeFd, POLLIN, 0}};
    if (poll(waits, 2, pausing ? pauseMs : -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return FALSE;
    }
    if (waits[1].revents != 0 && maskChangedSince(*port, changesAtStart)) {
      break;
    }
    if (pausing) {
      pausing = false;
      tarvesk_posix::pollShowsGone(*port, waits[0].revents);
      continue;
    }
    if (waits[0].revents == 0) {
      continue;
    }
    if (tarvesk_posix::inputAfterWake(*port, waits[0].revents)) {
      events = EV_RXCHAR;
      break;
    }
    pausing = tarvesk_posix::readableNow(*port);
    pauseMs = pausing ? tarvesk_posix::pauseAfter(pauseMs) : 0;
  }
  if (lpEvtMask != nullptr) {
    *lpEvtMask = events;
  }
  return TRUE;
}
