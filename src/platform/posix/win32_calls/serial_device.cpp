// Opening and closing a serial device: CreateFileW and CloseHandle.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>
#include <string>

#include "platform/posix/linux/device_gone.h"
#include "platform/posix/linux/line_settings.h"
#include "platform/posix/linux/message_sink.h"
#include "platform/posix/linux/modem_lines.h"
#include "platform/posix/linux/open_failure.h"
#include "platform/posix/linux/port_namespace.h"
#include "platform/posix/linux/utf_conversion.h"
#include "platform/posix/win32_calls/dcb_termios.h"
#include "platform/posix/win32_calls/port_record.h"

namespace {

using tarvesk_linux::TtySettings;
using tarvesk_win32_calls::PortRecord;
using Clock = std::chrono::steady_clock;

// How long CloseHandle lets queued output drain: it stops waiting once the
// queue has not shrunk for kStalledDrain (a line held by flow control or
// with no cable), and in any case after kLongestDrain.
constexpr auto kStalledDrain = std::chrono::milliseconds(200);
constexpr auto kLongestDrain = std::chrono::seconds(5);
constexpr long kDrainPollNanoseconds = 5'000'000;

// Closes the descriptor unless release() was called.
struct FdHolder {
  int fd;
  ~FdHolder() {
    if (fd >= 0) {
      close(fd);
    }
  }
  int release() {
    const int kept = fd;
    fd = -1;
    return kept;
  }
};

bool isPseudoTerminalSlave(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
    return false;
  }
  const unsigned int deviceMajor = major(status.st_rdev);
  return deviceMajor >= 136 && deviceMajor <= 143;  // Unix98 pty slaves
}

std::string devicePathFor(LPCWSTR name) {
  try {
    return tarvesk_linux::resolvePortName(std::u16string(name));
  } catch (...) {
    return std::string();  // out of memory: no path, the open fails
  }
}

// Gives queued output a bounded chance to leave before the descriptor goes.
// Returns whether some of it is still queued.
bool drainOutput(int fd) {
  const Clock::time_point start = Clock::now();
  Clock::time_point lastProgress = start;
  int lastQueued = -1;
  for (;;) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
      return false;
    }
    const Clock::time_point now = Clock::now();
    if (queued != lastQueued) {
      lastQueued = queued;
      lastProgress = now;
    }
    if (now - lastProgress >= kStalledDrain || now - start >= kLongestDrain) {
      return true;
    }
    const timespec step{0, kDrainPollNanoseconds};
    nanosleep(&step, nullptr);
  }
}

// Opens the device at path for reading and writing, for exclusive use.
HANDLE openDevice(const std::string &path) {
  // O_NOCTTY: never become our controlling terminal; O_NONBLOCK: open
  // without waiting for carrier, and all later waiting is done with poll().
  FdHolder device{open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
  if (device.fd < 0) {
    return INVALID_HANDLE_VALUE;
  }
  TtySettings current{};
  if (!tarvesk_linux::readTtySettings(device.fd, current)) {
    errno = ENOTTY;  // a file, a pipe, anything but a tty
    return INVALID_HANDLE_VALUE;
  }
  // Exclusive use is the flock, taken before any setting is touched, so a
  // second opener (this process or another, root or not) fails without
  // disturbing the owner. The kernel drops it with the owner's last
  // descriptor, however the owner ends.
  //
  // TIOCEXCL is not set: the kernel keeps that flag in the tty, not in our
  // descriptor, and clears it only on TIOCNXCL or when the last descriptor on
  // the tty closes. Whenever another process holds the tty open as well (the
  // master side of a pseudo-terminal, a serial console, a getty), a flag left
  // by an owner that died without CloseHandle outlives it: every open()
  // that lacks CAP_SYS_ADMIN then fails with EBUSY before it could clear it,
  // and TIOCGEXCL, which reports the flag whoever set it, would have the
  // check below refuse root as well.
  if (flock(device.fd, LOCK_EX | LOCK_NB) != 0) {
    return INVALID_HANDLE_VALUE;
  }
  // Another program that claims the device with TIOCEXCL owns it: only root
  // gets this far past that claim, and is refused as everyone else is.
  int claimedExclusively = 0;
  if (ioctl(device.fd, TIOCGEXCL, &claimedExclusively) == 0 && claimedExclusively != 0) {
    errno = EBUSY;
    return INVALID_HANDLE_VALUE;
  }

  // What lets SetCommMask and PurgeComm end a wait for input, and PurgeComm
  // a wait for room, from another thread.
  FdHolder wake{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  FdHolder writeWake{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  if (wake.fd < 0 || writeWake.fd < 0) {
    return INVALID_HANDLE_VALUE;
  }

  const TtySettings raw = tarvesk_linux::rawTtySettings(current);
  TtySettings held{};
  if (!tarvesk_linux::writeTtySettings(device.fd, raw) ||
      !tarvesk_linux::readTtySettings(device.fd, held)) {
    return INVALID_HANDLE_VALUE;
  }
  int lines = 0;
  const bool hasModemLines = tarvesk_linux::readModemLines(device.fd, lines);

  PortRecord *port = new (std::nothrow) PortRecord;
  if (port == nullptr) {
    errno = ENOMEM;
    return INVALID_HANDLE_VALUE;
  }
  port->tty.isPseudoTerminal = isPseudoTerminalSlave(device.fd);
  port->dcb = tarvesk_win32_calls::dcbForTtySettings(
      held, !hasModemLines || (lines & TIOCM_DTR) != 0, !hasModemLines || (lines & TIOCM_RTS) != 0);
  port->tty.fd = device.release();
  port->wakeFd = wake.release();
  port->writeWakeFd = writeWake.release();
  return port;
}

// The user sees "Unable to open the port" and nothing else from Win32; the
// line before it says which device and why, from what is known now.
void writeOpenFailureMessage(LPCWSTR name, const std::string &path, int error) {
  try {
    tarvesk_linux::writeMessageLine(
        tarvesk_linux::openFailureLine(tarvesk_linux::toUtf8(name), path, error));
  } catch (...) {
    // Out of memory: the cause is not told, the open fails as it would.
  }
}

}  // namespace

// Opens a device the one way the library does: an existing one, for reading
// and writing, for exclusive use, synchronous. A failure's cause is written
// as a message, except for arguments the library never passes.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   SECURITY_ATTRIBUTES *lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (lpFileName == nullptr || dwDesiredAccess != (GENERIC_READ | GENERIC_WRITE) ||
      dwShareMode != 0 || lpSecurityAttributes != nullptr ||
      dwCreationDisposition != OPEN_EXISTING || dwFlagsAndAttributes != 0 ||
      hTemplateFile != nullptr) {
    errno = EINVAL;
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = devicePathFor(lpFileName);
  const HANDLE port = path.empty() ? INVALID_HANDLE_VALUE : openDevice(path);
  if (port == INVALID_HANDLE_VALUE) {
    const int error = path.empty() ? ENOENT : errno;
    writeOpenFailureMessage(lpFileName, path, error);
    errno = error;
  }
  return port;
}

BOOL CloseHandle(HANDLE hObject) {
  PortRecord *port = tarvesk_win32_calls::recordFor(hObject);
  if (port == nullptr) {
    return FALSE;
  }
  // Whatever a stuck line did not let leave is dropped, so close() itself
  // cannot wait on it. Only then: on a pseudo-terminal the flush would empty
  // the peer's input instead, losing bytes that were already delivered.
  if (tarvesk_linux::isGone(port->tty) || drainOutput(port->tty.fd)) {
    ioctl(port->tty.fd, TCFLSH, TCOFLUSH);
  }
  close(port->tty.fd);  // also releases the flock
  close(port->wakeFd);
  close(port->writeWakeFd);
  delete port;
  return TRUE;
}
