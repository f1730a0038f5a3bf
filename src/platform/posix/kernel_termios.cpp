// The device's termios as the kernel holds it. termios2 carries any rate
// (BOTHER). Where it is missing, as under qemu-user, which answers it with
// ENOSYS, the classic request is used, and it carries the standard rates only.
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "platform/posix/port_record.h"

namespace tarvesk_posix {

namespace {

// ENOTTY as well: an emulator may answer requests it does not know with it,
// and on a device that really is no terminal the classic request fails too.
bool lacksTermios2(int error) { return error == ENOSYS || error == ENOTTY; }

tcflag_t inputSpeedCode(tcflag_t cflag) { return (cflag >> IBSHIFT) & CBAUD; }

// The input rate a classic termios stands for: input code 0 means "as output".
speed_t classicInputRate(tcflag_t cflag) {
  const tcflag_t input = inputSpeedCode(cflag);
  return standardRate(input == B0 ? cflag & CBAUD : input);
}

template <typename From, typename To>
void copyFlagsAndCharacters(const From &from, To &to) {
  to.c_iflag = from.c_iflag;
  to.c_oflag = from.c_oflag;
  to.c_cflag = from.c_cflag;
  to.c_lflag = from.c_lflag;
  to.c_line = from.c_line;
  std::copy(std::begin(from.c_cc), std::end(from.c_cc), std::begin(to.c_cc));
}

}  // namespace

bool readTermios(int fd, termios2 &settings) {
  if (ioctl(fd, TCGETS2, &settings) == 0) {
    return true;
  }
  if (!lacksTermios2(errno)) {
    return false;
  }
  termios classic{};
  if (ioctl(fd, TCGETS, &classic) != 0) {
    return false;
  }
  settings = termios2{};
  copyFlagsAndCharacters(classic, settings);
  settings.c_ospeed = standardRate(classic.c_cflag & CBAUD);
  settings.c_ispeed = classicInputRate(classic.c_cflag);
  return true;
}

bool writeTermios(int fd, const termios2 &settings) {
  if (ioctl(fd, TCSETS2, &settings) == 0) {
    return true;
  }
  if (!lacksTermios2(errno)) {
    return false;
  }
  // Only rates the codes stand for exactly; anything else would be run at
  // whatever the code says, or not at all.
  const tcflag_t output = settings.c_cflag & CBAUD;
  if (output == BOTHER || inputSpeedCode(settings.c_cflag) == BOTHER ||
      settings.c_ospeed != standardRate(output) ||
      settings.c_ispeed != classicInputRate(settings.c_cflag)) {
    errno = EINVAL;
    return false;
  }
  termios classic{};
  copyFlagsAndCharacters(settings, classic);
  return ioctl(fd, TCSETS, &classic) == 0;
}

}  // namespace tarvesk_posix
