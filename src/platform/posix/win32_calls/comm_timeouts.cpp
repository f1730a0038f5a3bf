// Time-outs: kept in the handle's record and applied by ReadFile/WriteFile.
#include "platform/posix/win32_calls/port_record.h"

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  const auto *port = tarvesk_win32_calls::recordFor(hFile, lpCommTimeouts != nullptr);
  if (port == nullptr) {
    return FALSE;
  }
  *lpCommTimeouts = port->timeouts.load();
  return TRUE;
}

namespace {

// The two read plans ReadFile carries out: MAXDWORD, 0, 0 returns at once
// with what is buffered; MAXDWORD, MAXDWORD, c waits up to c ms for a first
// byte if nothing is. The write time-outs may be any.
bool readPlanTaken(const COMMTIMEOUTS &t) {
  if (t.ReadIntervalTimeout != MAXDWORD) {
    return false;
  }
  return (t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) ||
         (t.ReadTotalTimeoutMultiplier == MAXDWORD && t.ReadTotalTimeoutConstant > 0 &&
          t.ReadTotalTimeoutConstant < MAXDWORD);
}

}  // namespace

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  tarvesk_win32_calls::PortRecord *port = tarvesk_win32_calls::recordFor(
      hFile, lpCommTimeouts != nullptr && readPlanTaken(*lpCommTimeouts));
  if (port == nullptr) {
    return FALSE;
  }
  port->timeouts.store(*lpCommTimeouts);
  return TRUE;
}
