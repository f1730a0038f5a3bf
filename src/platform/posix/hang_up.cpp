#include "platform/posix/hang_up.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>

#include <cerrno>

namespace tarvesk_posix {

namespace {

constexpr short kHangUpEvents = POLLHUP | POLLERR | POLLNVAL;

// A second look, after a moment, before calling a readable-but-empty device
// gone.
constexpr long kRecheckNanoseconds = 10'000'000;

void markGone(PortRecord &port) { port.hungUp = true; }

// FIONREAD: what the line discipline holds; -1 when the device does not
// answer (a hung-up tty answers every ioctl with EIO).
int countQueued(int fd) {
  int queued = 0;
  return ioctl(fd, FIONREAD, &queued) == 0 ? queued : -1;
}

// FIONREAD, marking the device gone when it does not answer.
bool countInput(PortRecord &port, int &queued) {
  queued = countQueued(port.fd);
  if (queued < 0) {
    queued = 0;
    markGone(port);
    return false;
  }
  return true;
}

// What poll() reports for the device at this moment; 0 for nothing.
short eventsNow(int fd) {
  pollfd probe{fd, POLLIN, 0};
  return poll(&probe, 1, 0) == 1 ? probe.revents : 0;
}

}  // namespace

bool isGone(const PortRecord &port) { return port.hungUp; }

bool transferShowsGone(PortRecord &port, ssize_t result) {
  if (result != 0 && errno != EIO) {
    return false;
  }
  markGone(port);
  return true;
}

bool pollShowsGone(PortRecord &port, short revents) {
  if ((revents & kHangUpEvents) == 0) {
    return false;
  }
  markGone(port);
  return true;
}

bool queuedInput(PortRecord &port, int &queued) {
  queued = 0;
  // Once a read has found the device gone, nothing more can be read from it,
  // whatever a pulled-out adapter still claims to hold.
  if (isGone(port) || !countInput(port, queued)) {
    return false;
  }
  if (queued > 0) {
    return true;  // what arrived before a hang-up is still to be read
  }
  // FIONREAD counts only what the line discipline holds, not what the kernel
  // is still handing it from the driver; poll() waits for that hand-over, so
  // input that has arrived is counted now rather than after a wait for it.
  const short revents = eventsNow(port.fd);
  if ((revents & POLLIN) != 0) {
    if (!countInput(port, queued)) {
      return false;
    }
    if (queued > 0) {
      return true;
    }
  }
  return !pollShowsGone(port, revents);
}

bool inputAfterWake(PortRecord &port, short revents, unsigned long long takenBefore) {
  if (countQueued(port.fd) > 0) {
    return true;
  }
  // A removed USB adapter or a closed pty master reads as "readable" (or
  // hung up) with nothing to read; left alone, that would wake the wait again
  // and again.
  if (!pollShowsGone(port, revents)) {
    const timespec pause{0, kRecheckNanoseconds};
    nanosleep(&pause, nullptr);
    if (eventsNow(port.fd) != 0 && countQueued(port.fd) <= 0 && port.bytesTaken == takenBefore) {
      markGone(port);
    }
  }
  return false;
}

}  // namespace tarvesk_posix
