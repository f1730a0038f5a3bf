#pragma once

// A tty's settings as the kernel holds them. Only kernel_termios.cpp includes
// the kernel's termios header, which cannot stand beside <termios.h>; users of
// this one name the flags as <termios.h> does (glibc's values are the kernel's).
#include <type_traits>

namespace tarvesk_linux {

// termios2, with the speed as rates in bits per second only: c_cflag carries
// no speed code (those are kernel_termios.cpp's business). The types are
// tcflag_t, cc_t and speed_t.
struct TtySettings {
  unsigned int c_iflag;
  unsigned int c_oflag;
  unsigned int c_cflag;
  unsigned int c_lflag;
  unsigned char c_line;
  unsigned char c_cc[19];  // the kernel's NCCS, indexed by VMIN, VSTART, ...
  unsigned int c_ispeed;
  unsigned int c_ospeed;
};
static_assert(std::has_unique_object_representations_v<TtySettings>,
              "no padding: states are compared byte for byte");

// Through termios2, or through the classic requests where the kernel lacks
// termios2 (qemu-user answers it with ENOSYS): then only the rates that have
// a code of their own can be set, and any other fails with EINVAL, changing
// nothing.
bool readTtySettings(int fd, TtySettings &settings);
bool writeTtySettings(int fd, const TtySettings &settings);

}  // namespace tarvesk_linux
