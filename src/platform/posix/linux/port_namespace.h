#pragma once

#include <string>
#include <vector>

// The one place that decides which serial devices exist and what they are
// called. Listing never opens a device.
namespace tarvesk_linux {

struct PortEntry {
  std::string name;        // the entry name without the colon, e.g. "COM1"
  std::string devicePath;  // what to open, e.g. "/dev/ttyUSB0" or the symlink in TARVESK_PORTS
};

// The ports found, and why the list may be incomplete: 0, or the errno of
// the directory that could not be read.
struct PortListing {
  std::vector<PortEntry> ports;
  int error = 0;
};

// The active ports: the TARVESK_PORTS directory when that variable is set,
// else the kernel's serial devices under /sys/class/tty (none, without error,
// where there is no tty class at all).
PortListing readActivePorts();

// Each entry of dir that resolves (through symlinks) to a character device,
// in byte order of the names.
PortListing readPortsDirectory(const std::string &dir);

// The ttys below sysClassTty ("/sys/class/tty") that have a device link,
// without 8250 ports whose type is 0, ordered ttyS, ttyAMA, ttyUSB, ttyACM,
// then the rest, each by number, and named COM1, COM2, ... in that order.
// devDir ("/dev") is where their device nodes live.
PortListing readSysfsPorts(const std::string &sysClassTty, const std::string &devDir);

// The device path a name stands for: "COM1:" or "COM1" through the active
// ports, an absolute path as it is. Empty when the name means nothing.
std::string resolvePortName(const std::u16string &name);

}  // namespace tarvesk_linux
