#include "device_seams.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>

extern "C" ssize_t __real_read(int fd, void *buffer, size_t count);
extern "C" int __real_ioctl(int fd, unsigned long request, ...);

namespace {

enum class Fault { None, PulledOut, ReadsNothing, RefusedRate, ApproximatedRate, NoTermios2 };

// Read by the library's threads while the test changes them.
std::atomic<Fault> fault{Fault::None};
std::atomic<dev_t> faultyDevice{0};
std::atomic<int> sparedFd{-1};
std::atomic<int> claimed{0};
std::atomic<speed_t> rateAsked{0};
std::atomic<speed_t> rateRun{0};

bool isFaulty(int fd, Fault kind) {
  if (fault != kind || fd == sparedFd) {
    return false;
  }
  struct stat status {};
  return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == faultyDevice;
}

void arm(Fault kind, dev_t device, int spared) {
  fault = Fault::None;
  faultyDevice = device;
  sparedFd = spared;
  fault = kind;
}

}  // namespace

namespace device_seams {

void pullOut(dev_t device, int spared) { arm(Fault::PulledOut, device, spared); }

void readNothing(dev_t device, int spared, int claimedInput) {
  claimed = claimedInput;
  arm(Fault::ReadsNothing, device, spared);
}

void refuseRate(dev_t device, int spared, unsigned int rate) {
  rateAsked = rate;
  arm(Fault::RefusedRate, device, spared);
}

void approximateRate(dev_t device, int spared, unsigned int rate, unsigned int actual) {
  rateAsked = rate;
  rateRun = actual;
  arm(Fault::ApproximatedRate, device, spared);
}

void restore() { fault = Fault::None; }

void lackTermios2(dev_t device, int spared) { arm(Fault::NoTermios2, device, spared); }

}  // namespace device_seams

extern "C" ssize_t __wrap_read(int fd, void *buffer, size_t count) {
  if (isFaulty(fd, Fault::PulledOut) || isFaulty(fd, Fault::ReadsNothing)) {
    return 0;
  }
  return __real_read(fd, buffer, count);
}

// Every request of the layer takes at most one argument, an int or a pointer,
// passed on in the register it came in, as glibc's own ioctl() does.
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void *argument = va_arg(arguments, void *);
  va_end(arguments);
  if ((request == TCGETS2 || request == TCSETS2) && isFaulty(fd, Fault::NoTermios2)) {
    errno = ENOSYS;
    return -1;
  }
  if (isFaulty(fd, Fault::PulledOut)) {
    errno = EIO;
    return -1;
  }
  if (request == FIONREAD && isFaulty(fd, Fault::ReadsNothing)) {
    *static_cast<int *>(argument) = claimed;
    return 0;
  }
  if (request == TCSETS2) {
    const termios2 *asked = static_cast<const termios2 *>(argument);
    if (asked->c_ospeed == rateAsked && isFaulty(fd, Fault::RefusedRate)) {
      errno = EINVAL;
      return -1;
    }
    if (asked->c_ospeed == rateAsked && isFaulty(fd, Fault::ApproximatedRate)) {
      // What a driver's tty_encode_baud_rate() leaves: the rate it runs at.
      termios2 run = *asked;
      run.c_cflag = (run.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER;
      run.c_ospeed = rateRun;
      run.c_ispeed = rateRun;
      return __real_ioctl(fd, request, &run);
    }
  }
  return __real_ioctl(fd, request, argument);
}
