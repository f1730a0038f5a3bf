// The one file that includes the kernel's termios header: termios2 carries
// any rate (BOTHER), and the classic termios, for kernels without termios2,
// only the rates that have a code.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <type_traits>

#include "platform/posix/linux/kernel_termios.h"

namespace tarvesk_linux {

namespace {

static_assert(sizeof(TtySettings::c_cc) == NCCS && std::is_same_v<tcflag_t, unsigned int> &&
                  std::is_same_v<cc_t, unsigned char> && std::is_same_v<speed_t, unsigned int>,
              "TtySettings holds what termios2 holds");

constexpr tcflag_t kSpeedBits = CBAUD | (CBAUD << IBSHIFT);

// The kernel's codes for the standard rates. Any other rate travels as
// BOTHER, with the rate itself in c_ospeed/c_ispeed.
struct StandardRate {
  speed_t rate;
  tcflag_t code;
};
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

tcflag_t codeOf(speed_t rate) {
  for (const StandardRate &standard : kStandardRates) {
    if (standard.rate == rate) {
      return standard.code;
    }
  }
  return rate == 0 ? B0 : BOTHER;  // B0 drops DTR and RTS
}

// 0 for B0, and for BOTHER, which a classic termios cannot carry.
speed_t rateOf(tcflag_t code) {
  for (const StandardRate &standard : kStandardRates) {
    if (standard.code == code) {
      return standard.rate;
    }
  }
  return 0;
}

// ENOTTY as well: an emulator may answer requests it does not know with it,
// and on a device that really is no terminal the classic request fails too.
bool lacksTermios2(int error) { return error == ENOSYS || error == ENOTTY; }

// Both ways: the kernel's records and TtySettings share the field names.
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

bool readTtySettings(int fd, TtySettings &settings) {
  termios2 current{};
  if (ioctl(fd, TCGETS2, &current) == 0) {
    copyFlagsAndCharacters(current, settings);
    settings.c_ispeed = current.c_ispeed;
    settings.c_ospeed = current.c_ospeed;
  } else {
    termios classic{};
    if (!lacksTermios2(errno) || ioctl(fd, TCGETS, &classic) != 0) {
      return false;
    }
    copyFlagsAndCharacters(classic, settings);
    const tcflag_t output = classic.c_cflag & CBAUD;
    const tcflag_t input = (classic.c_cflag >> IBSHIFT) & CBAUD;  // B0: as output
    settings.c_ispeed = rateOf(input == B0 ? output : input);
    settings.c_ospeed = rateOf(output);
  }
  settings.c_cflag &= ~kSpeedBits;
  return true;
}

bool writeTtySettings(int fd, const TtySettings &settings) {
  termios2 wanted{};
  copyFlagsAndCharacters(settings, wanted);
  const tcflag_t input =
      settings.c_ispeed == settings.c_ospeed ? tcflag_t{B0} : codeOf(settings.c_ispeed);
  wanted.c_cflag = (wanted.c_cflag & ~kSpeedBits) | codeOf(settings.c_ospeed) | input << IBSHIFT;
  wanted.c_ispeed = settings.c_ispeed;
  wanted.c_ospeed = settings.c_ospeed;
  if (ioctl(fd, TCSETS2, &wanted) == 0) {
    return true;
  }
  if (!lacksTermios2(errno)) {
    return false;
  }
  // Only rates that have a code; any other would be run at whatever the
  // code says, or not at all.
  if ((wanted.c_cflag & CBAUD) == BOTHER || input == BOTHER) {
    errno = EINVAL;
    return false;
  }
  termios classic{};
  copyFlagsAndCharacters(wanted, classic);
  return ioctl(fd, TCSETS, &classic) == 0;
}

}  // namespace tarvesk_linux
