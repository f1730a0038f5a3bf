#pragma once

// Settings put on a device, and what its driver really makes of them: termios
// read back says what the kernel keeps, which for some drivers is not what
// the hardware is programmed with.
#include <optional>

#include "platform/posix/linux/kernel_termios.h"
#include "platform/posix/linux/tty.h"

namespace tarvesk_linux {

// current in raw mode: bytes pass unchanged both ways, no echo, no signals,
// modem status lines ignored, receiver on. Speed, framing and hardware flow
// control stay as they are.
TtySettings rawTtySettings(const TtySettings &current);

// How an 8250-family UART makes its rates: baud_base / divisor, with the
// setserial flags that make it run another rate when 38400 is asked for.
struct UartClock {
  unsigned int baudBase;  // TIOCGSERIAL's baud_base: the UART clock / 16
  int flags;              // TIOCGSERIAL's flags (ASYNC_SPD_*)
};

// True when the UART runs within 1 % of rate once the kernel picks its divisor.
bool uartMakesRate(const UartClock &clock, unsigned int rate);

// Applies wanted and returns what the device then runs: wanted, or on a
// pseudo-terminal, which has no line to frame characters on, wanted with
// 8 data bits and no parity when that is all it refused. Empty when the
// device cannot run wanted exactly; a rate or framing the hardware cannot
// make is refused before anything is changed.
std::optional<TtySettings> applyLineSettings(const Tty &tty, const TtySettings &wanted);

}  // namespace tarvesk_linux
