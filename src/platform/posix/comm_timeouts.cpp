// Time-outs: kept in the handle's record and applied by ReadFile/WriteFile.
#include <cerrno>

#include "platform/posix/port_record.h"

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  const tarvesk_posix::PortRecord *port =
      tarvesk_posix::recordFor(hFile, lpCommTimeouts != nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  *lpCommTimeouts = port->timeouts;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  tarvesk_posix::PortRecord *port = tarvesk_posix::recordFor(hFile, lpCommTimeouts != nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  // The one combination Win32 rejects: every read time-out MAXDWORD.
  if (lpCommTimeouts->ReadIntervalTimeout == MAXDWORD &&
      lpCommTimeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
      lpCommTimeouts->ReadTotalTimeoutConstant == MAXDWORD) {
    errno = EINVAL;
    return FALSE;
  }
  port->timeouts = *lpCommTimeouts;
  return TRUE;
}
