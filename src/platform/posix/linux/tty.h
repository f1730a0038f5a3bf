#pragma once

// An open tty, as the Linux pieces see it.
#include <atomic>

namespace tarvesk_linux {

struct Tty {
  int fd = -1;
  bool isPseudoTerminal = false;  // Unix98 pty slave: no line, no modem lines, no framing
  // Set once the device is found gone (device_gone.h). Read by other threads
  // while one waits for input, hence atomic.
  std::atomic<bool> gone{false};
};

}  // namespace tarvesk_linux
