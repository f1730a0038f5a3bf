// The input queue, and whether the device is gone: ClearCommError.
#include <cerrno>

#include "platform/posix/linux/device_gone.h"
#include "platform/posix/win32_calls/port_record.h"

// Fails once the device is gone, which is what ends a reader's wait for
// input. Only the input queue is counted: the error word, the hold flags and
// the output queue are 0.
BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  auto *port = tarvesk_win32_calls::recordFor(hFile, lpErrors != nullptr && lpStat != nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  int inQueue = 0;
  if (!tarvesk_linux::queuedInput(port->tty, inQueue)) {
    errno = EIO;
    return FALSE;
  }
  *lpErrors = 0;
  *lpStat = COMSTAT{};
  lpStat->cbInQue = static_cast<DWORD>(inQueue);
  return TRUE;
}
