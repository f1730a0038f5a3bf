#pragma once

// A tty's settings, read from and written to the kernel. Only
// kernel_termios.cpp includes the kernel's own termios header, which cannot
// stand beside <termios.h>; this header includes neither, and its users name
// the flags and control characters as <termios.h> does (glibc's values are the
// kernel's).
#include <type_traits>

namespace tarvesk_posix {

// What the kernel's termios2 holds, with the speed as rates in bits per
// second: c_cflag carries no speed code, so any rate the driver takes can be
// asked for, and the codes are kernel_termios.cpp's business alone.
// The types are those of tcflag_t, cc_t and speed_t.
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
bool readTermios(int fd, TtySettings &settings);
bool writeTermios(int fd, const TtySettings &settings);

}  // namespace tarvesk_posix
