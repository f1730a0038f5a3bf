#include "platform/posix/linux/line_settings.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace tarvesk_linux {

namespace {

// The bits of each flag word that raw mode and the line settings decide;
// everything else is left as the driver had it.
constexpr tcflag_t kInputBits = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                                ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL;
constexpr tcflag_t kLocalBits = ISIG | ICANON | ECHO | ECHONL | IEXTEN;
constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR;
constexpr tcflag_t kControlBits = kFramingBits | CSTOPB | CRTSCTS | CLOCAL | CREAD;

// PORT_8250 (1) to PORT_16550A_FSL64 (30) are the 8250 driver's port types;
// PORT_UNKNOWN (0) is what USB serial drivers and absent UARTs report.
constexpr int kFirst8250Type = 1;
constexpr int kLast8250Type = 30;

// The divisor latch is 16 bits wide.
constexpr std::uint64_t kMaxDivisor = 0xffff;

// The clock of an 8250-family UART behind fd; empty for any other device.
std::optional<UartClock> uartClockOf(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || serial.type < kFirst8250Type ||
      serial.type > kLast8250Type || serial.baud_base <= 0) {
    return std::nullopt;
  }
  return UartClock{static_cast<unsigned int>(serial.baud_base), serial.flags};
}

// The name of the driver bound to fd's device ("ftdi_sio"), from sysfs;
// empty when there is none to be found (a pseudo-terminal, no sysfs).
std::string driverOf(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
    return std::string();
  }
  const std::string link = "/sys/dev/char/" + std::to_string(major(status.st_rdev)) + ":" +
                           std::to_string(minor(status.st_rdev)) + "/device/driver";
  char target[256];
  const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) {
    return std::string();
  }
  const std::string path(target, static_cast<std::size_t>(length));
  return path.substr(path.rfind('/') + 1);
}

// What the hardware itself can run; the kernel's termios does not say, as it
// keeps the rate and size asked for whatever the driver programmed.
bool hardwareMakes(int fd, const TtySettings &wanted) {
  // ftdi_sio keeps CS5 and CS6 in termios but sends the chip no size, which it
  // runs as 8 data bits: the FTDI chips have 7 and 8 only.
  const tcflag_t size = wanted.c_cflag & CSIZE;
  if ((size == CS5 || size == CS6) && driverOf(fd) == "ftdi_sio") {
    return false;
  }
  const std::optional<UartClock> clock = uartClockOf(fd);
  return !clock ||
         (uartMakesRate(*clock, wanted.c_ospeed) && uartMakesRate(*clock, wanted.c_ispeed));
}

// True when the kernel holds every value of wanted that raw mode and the line
// settings decide.
bool holdsSettings(const TtySettings &held, const TtySettings &wanted) {
  return (held.c_cflag & kControlBits) == (wanted.c_cflag & kControlBits) &&
         held.c_ospeed == wanted.c_ospeed && held.c_ispeed == wanted.c_ispeed &&
         (held.c_iflag & kInputBits) == (wanted.c_iflag & kInputBits) &&
         (held.c_oflag & OPOST) == (wanted.c_oflag & OPOST) &&
         (held.c_lflag & kLocalBits) == (wanted.c_lflag & kLocalBits) &&
         held.c_cc[VMIN] == wanted.c_cc[VMIN] && held.c_cc[VTIME] == wanted.c_cc[VTIME];
}

// True when held and wanted differ in character size and parity only: what a
// pseudo-terminal forces, having no line to frame characters on.
bool differsOnlyInFraming(const TtySettings &held, const TtySettings &wanted) {
  TtySettings heldWithWantedFraming = held;
  heldWithWantedFraming.c_cflag &= ~kFramingBits;
  heldWithWantedFraming.c_cflag |= wanted.c_cflag & kFramingBits;
  return holdsSettings(heldWithWantedFraming, wanted);
}

}  // namespace

TtySettings rawTtySettings(const TtySettings &current) {
  TtySettings raw = current;
  // No break, parity check or mark, strip, CR/NL or case translation on input,
  // and no software flow control.
  raw.c_iflag &= ~kInputBits;
  raw.c_oflag &= ~OPOST;       // output bytes go out as written
  raw.c_lflag &= ~kLocalBits;  // no line editing, echo or signal characters
  // CLOCAL: carrier detect does not gate open or I/O; CREAD: receiver on.
  raw.c_cflag |= CLOCAL | CREAD;
  raw.c_cc[VMIN] = 1;   // a blocking read would wait for one byte, with no
  raw.c_cc[VTIME] = 0;  // inter-byte timer (the fd is non-blocking anyway)
  return raw;
}

bool uartMakesRate(const UartClock &clock, unsigned int rate) {
  // The setserial alias: with an ASYNC_SPD_ flag set, 38400 asks for another
  // rate, so 38400 itself cannot be had.
  if (rate == 0 || (rate == 38400 && (clock.flags & ASYNC_SPD_MASK) != 0)) {
    return false;
  }
  const std::uint64_t base = clock.baudBase;
  // SMSC Super I/O chips make exactly 2 and 4 times baud_base through magic divisors.
  if ((clock.flags & ASYNC_MAGIC_MULTIPLIER) != 0 && (rate == 2 * base || rate == 4 * base)) {
    return true;
  }
  // The kernel picks the nearest divisor: DIV_ROUND_CLOSEST(uartclk, 16 * rate).
  const std::uint64_t divisor = (base + rate / 2) / rate;
  if (divisor == 0 || divisor > kMaxDivisor) {
    return false;
  }
  // |base / divisor - rate| <= rate / 100, in integers.
  const std::uint64_t made = divisor * rate;
  const std::uint64_t error = made > base ? made - base : base - made;
  return error * 100 <= made;
}

std::optional<TtySettings> applyLineSettings(const Tty &tty, const TtySettings &wanted) {
  if (!hardwareMakes(tty.fd, wanted)) {
    errno = EINVAL;
    return std::nullopt;
  }
  const bool set = writeTtySettings(tty.fd, wanted);
  const int setError = errno;
  TtySettings held{};
  const bool readBack = readTtySettings(tty.fd, held);
  if (set && readBack && holdsSettings(held, wanted)) {
    return wanted;
  }
  const bool framingRefused =
      (!set && setError == EINVAL) || (set && readBack && differsOnlyInFraming(held, wanted));
  if (!tty.isPseudoTerminal || !framingRefused) {
    return std::nullopt;
  }
  TtySettings framed = wanted;  // 8 data bits and no parity: what a pseudo-terminal can hold
  framed.c_cflag = (framed.c_cflag & ~kFramingBits) | CS8;
  if (writeTtySettings(tty.fd, framed) && readTtySettings(tty.fd, held) &&
      holdsSettings(held, framed)) {
    return framed;
  }
  return std::nullopt;
}

}  // namespace tarvesk_linux
