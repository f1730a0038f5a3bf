#pragma once

// The record a serial device's HANDLE points to.
#include <atomic>
#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/handle_tag.h"

namespace tarvesk_posix {

// One open serial device. Owned by the handle: CreateFileW makes it,
// CloseHandle frees it.
struct PortRecord {
  static constexpr HandleKind kTag = HandleKind::kSerialDevice;
  HandleKind tag = kTag;
  int fd = -1;
  bool isPseudoTerminal = false;  // Unix98 pty slave: no line, no modem lines, no framing
  // Set by hang_up.cpp once the device is found gone. Read by other threads
  // while one waits for input, hence atomic.
  std::atomic<bool> hungUp{false};
  // Bytes that ReadFile has taken, on any thread: a wait that finds the
  // device readable but empty tells by it whether another reader of this
  // handle took the input, or nobody did (the device is gone).
  std::atomic<unsigned long long> bytesTaken{0};
  DCB dcb{};                // the settings last accepted, as GetCommState reports them
  COMMTIMEOUTS timeouts{};  // Win32's initial time-outs are all 0 as well
  DWORD eventMask = 0;      // set by SetCommMask
};

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

}  // namespace tarvesk_posix
