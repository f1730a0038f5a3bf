#include "device_seams.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>

extern "C" ssize_t __real_read(int fd, void *buffer, size_t count);
extern "C" int __real_ioctl(int fd, unsigned long request, ...);

namespace {

// Read by the library's threads while the test changes them.
std::atomic<bool> vanished{false};
std::atomic<dev_t> vanishedDevice{0};
std::atomic<int> sparedFd{-1};
std::atomic<int> claimed{0};

bool isVanished(int fd) {
  if (!vanished || fd == sparedFd) {
    return false;
  }
  struct stat status {};
  return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == vanishedDevice;
}

}  // namespace

namespace device_seams {

void vanish(dev_t device, int spared, int claimedInput) {
  vanishedDevice = device;
  sparedFd = spared;
  claimed = claimedInput;
  vanished = true;
}

void restore() { vanished = false; }

}  // namespace device_seams

extern "C" ssize_t __wrap_read(int fd, void *buffer, size_t count) {
  if (isVanished(fd)) {
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
  if (request == FIONREAD && isVanished(fd)) {
    *static_cast<int *>(argument) = claimed;
    return 0;
  }
  return __real_ioctl(fd, request, argument);
}
