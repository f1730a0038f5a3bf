#pragma once

// The record a serial device's HANDLE points to.
#include <atomic>
#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/linux/tty.h"
#include "platform/posix/win32_calls/handle_tag.h"

namespace tarvesk_posix {

// One open serial device. Owned by the handle: CreateFileW makes it,
// CloseHandle frees it.
struct PortRecord {
  static constexpr HandleKind kTag = HandleKind::kSerialDevice;
  HandleKind tag = kTag;
  Tty tty;
  DCB dcb{};  // the settings last accepted, as GetCommState reports them
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};  // reads return at once, writes have no limit
  // SetCommMask may come from another thread while WaitCommEvent runs, and
  // ends that wait: it stores the mask, counts the change, and signals the
  // eventfd wakeFd, which the wait polls beside the device, when one is in
  // progress (waiting).
  std::atomic<DWORD> eventMask{0};
  std::atomic<unsigned int> maskChanges{0};
  std::atomic<bool> waiting{false};
  int wakeFd = -1;
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
