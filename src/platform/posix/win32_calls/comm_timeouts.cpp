// Time-outs: kept in the handle's record and applied by ReadFile/WriteFile.
#include "platform/posix/win32_calls/port_record.h"

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  const tarvesk_posix::PortRecord *port =
      tarvesk_posix::recordFor(hFile, lpCommTimeouts != nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  *lpCommTimeouts = port->timeouts;
  return TRUE;
}

// Reads return at once with what is buffered, so MAXDWORD, 0, 0 are the only
// read time-outs taken; the write time-outs may be any.
BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  tarvesk_posix::PortRecord *port = tarvesk_posix::recordFor(
      hFile, lpCommTimeouts != nullptr && lpCommTimeouts->ReadIntervalTimeout == MAXDWORD &&
                 lpCommTimeouts->ReadTotalTimeoutMultiplier == 0 &&
                 lpCommTimeouts->ReadTotalTimeoutConstant == 0);
  if (port == nullptr) {
    return FALSE;
  }
  port->timeouts = *lpCommTimeouts;
  return TRUE;
}
