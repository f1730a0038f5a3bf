#pragma once

// The record a serial device's HANDLE points to.
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/linux/tty.h"
#include "platform/posix/win32_calls/handle_tag.h"

namespace tarvesk_win32_calls {

// The time-outs SetCommTimeouts last took. A deadline read changes the read
// time-outs while writes run on other threads, which read the write ones:
// each is stored on its own.
class StoredTimeouts {
 public:
  COMMTIMEOUTS load() const {
    return {readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant};
  }
  void store(const COMMTIMEOUTS &t) {
    readInterval = t.ReadIntervalTimeout;
    readMultiplier = t.ReadTotalTimeoutMultiplier;
    readConstant = t.ReadTotalTimeoutConstant;
    writeMultiplier = t.WriteTotalTimeoutMultiplier;
    writeConstant = t.WriteTotalTimeoutConstant;
  }

 private:
  // Reads return at once, writes have no limit.
  std::atomic<DWORD> readInterval{MAXDWORD}, readMultiplier{0}, readConstant{0};
  std::atomic<DWORD> writeMultiplier{0}, writeConstant{0};
};

// One open serial device. Owned by the handle: CreateFileW makes it,
// CloseHandle frees it.
struct PortRecord {
  static constexpr HandleKind kTag = HandleKind::kSerialDevice;
  HandleKind tag = kTag;
  tarvesk_linux::Tty tty;
  DCB dcb{};  // the settings last accepted, as GetCommState reports them
  StoredTimeouts timeouts;
  // SetCommMask may come from another thread while WaitCommEvent runs, and
  // ends that wait: it stores the mask, counts the change, and signals the
  // eventfd wakeFd, which the wait polls beside the device, when one is in
  // progress (waiting).
  std::atomic<DWORD> eventMask{0};
  std::atomic<unsigned int> maskChanges{0};
  std::atomic<bool> waiting{false};
  int wakeFd = -1;
  // PurgeComm counts its aborts here and wakes the transfer that waits: a
  // ReadFile through wakeFd (it claims the wait in progress, as WaitCommEvent
  // does), a WriteFile through writeWakeFd, which only
  // WriteFile polls, so that a reader and a writer waiting at once never take
  // each other's wake-up.
  std::atomic<unsigned int> rxAborts{0};
  std::atomic<unsigned int> txAborts{0};
  int writeWakeFd = -1;
};

// Signals a wake-up eventfd; fails only when the count would overflow, which
// leaves it signalled anyway.
inline void signalWake(int fd) {
  const unsigned long long one = 1;
  const ssize_t sent = write(fd, &one, sizeof one);
  static_cast<void>(sent);
}

// Takes the wake-ups signalled so far, so that the eventfd polls readable
// again only for a later one.
inline void drainWake(int fd) {
  unsigned long long signals = 0;
  while (read(fd, &signals, sizeof signals) < 0 && errno == EINTR) {
  }
}

// The record behind a serial device's handle, when the call's other
// arguments are valid too; otherwise nullptr, with errno EBADF for a handle
// that is no open serial device, or EINVAL for the arguments.
inline PortRecord *recordFor(HANDLE handle, bool argumentsValid = true) {
  PortRecord *port = handle == INVALID_HANDLE_VALUE ? nullptr : recordBehind<PortRecord>(handle);
  if (port == nullptr || !argumentsValid) {
    errno = port == nullptr ? EBADF : EINVAL;
    return nullptr;
  }
  return port;
}

}  // namespace tarvesk_win32_calls
