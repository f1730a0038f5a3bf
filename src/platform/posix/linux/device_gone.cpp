#include "platform/posix/linux/device_gone.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace tarvesk_linux {

namespace {

constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;

void markGone(Tty &tty) { tty.gone = true; }

// FIONREAD: what the line discipline holds. A gone tty answers every ioctl
// with EIO, which marks it gone.
bool countInput(Tty &tty, int &queued) {
  if (ioctl(tty.fd, FIONREAD, &queued) == 0) {
    return true;
  }
  queued = 0;
  if (errno == EIO) {
    markGone(tty);
  }
  return false;
}

// What poll() reports for the device at this moment; 0 for nothing.
short eventsNow(int fd) {
  pollfd probe{fd, POLLIN, 0};
  return poll(&probe, 1, 0) == 1 ? probe.revents : 0;
}

}  // namespace

bool isGone(const Tty &tty) { return tty.gone; }

bool transferShowsGone(Tty &tty, ssize_t result) {
  if (result == 0) {
    return pollShowsGone(tty, eventsNow(tty.fd));
  }
  if (errno != EIO) {
    return false;
  }
  markGone(tty);
  return true;
}

bool pollShowsGone(Tty &tty, short revents) {
  if ((revents & kGoneEvents) == 0) {
    return false;
  }
  markGone(tty);
  return true;
}

bool queuedInput(Tty &tty, int &queued) {
  queued = 0;
  // Once a read has found the device gone, nothing more can be read from it.
  if (isGone(tty) || !countInput(tty, queued)) {
    return false;
  }
  if (queued > 0) {
    return true;  // what arrived before the device went is still to be read
  }
  // FIONREAD counts only what the line discipline holds, not what the kernel
  // is still handing it from the driver; poll() waits for that hand-over, so
  // input that has arrived is counted now rather than after a wait for it.
  const short revents = eventsNow(tty.fd);
  if ((revents & POLLIN) != 0) {
    if (!countInput(tty, queued)) {
      return false;
    }
    if (queued > 0) {
      return true;
    }
  }
  return !pollShowsGone(tty, revents);
}

}  // namespace tarvesk_linux
