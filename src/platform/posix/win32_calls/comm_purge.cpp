// Ending transfers in progress: PurgeComm. Only the aborts exist; no queue is
// cleared.
#include "platform/posix/win32_calls/port_record.h"

// Counted before the wake-up is signalled: a transfer that began before the
// count changed polls its eventfd and finds the wake-up; one that begins after
// it reads the new count and goes on, as on Win32, where PurgeComm ends only
// the transfers in progress.
BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  constexpr DWORD kAborts = PURGE_TXABORT | PURGE_RXABORT;
  auto *port = tarvesk_win32_calls::recordFor(hFile, dwFlags != 0 && (dwFlags & ~kAborts) == 0);
  if (port == nullptr) {
    return FALSE;
  }
  if ((dwFlags & PURGE_TXABORT) != 0) {
    ++port->txAborts;
    tarvesk_win32_calls::signalWake(port->writeWakeFd);
  }
  if ((dwFlags & PURGE_RXABORT) != 0) {
    ++port->rxAborts;
    if (port->waiting) {
      tarvesk_win32_calls::signalWake(port->wakeFd);
    }
  }
  return TRUE;
}
