// hasTermios2 of termios_probe.h, which this file cannot include: the
// kernel's own termios header does not stand beside <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

bool hasTermios2(int fd) {
  termios2 t{};
  return ioctl(fd, TCGETS2, &t) == 0 || (errno != ENOSYS && errno != ENOTTY);
}
