#include "serial/native_serial_port.h"

namespace {

// After a wait that reported no character the read pauses before it waits
// again; otherwise a driver whose wait keeps failing, Wine's WaitCommEvent on
// a pseudo-terminal (success with no event every millisecond or two, each
// costing over a millisecond of processor time) or Windows when the mask
// changes under a waiting call would make it a busy loop. The pause doubles
// up to a limit and starts again from the first once a wait reports a
// character. It is spent in short sleeps, each followed by a look at the
// queue, so that a byte arriving meanwhile is read within about 10 ms.
constexpr DWORD kFirstPauseMs = 1;
constexpr DWORD kLongestPauseMs = 100;
constexpr DWORD kLongestSleepMs = 10;

}  // namespace

// Returns true once the input queue holds a byte, false when the driver can
// no longer tell (the device is gone or the handle is bad). Never gives up
// while the driver still answers: the read it serves has no time limit.
bool NativeSerialPort::waitForInput() {
  DWORD nextPause = kFirstPauseMs;
  DWORD pauseLeft = 0;
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) {
      return false;
    }
    if (status.cbInQue > 0) {
      return true;
    }
    if (pauseLeft > 0) {
      const DWORD sleep = pauseLeft < kLongestSleepMs ? pauseLeft : kLongestSleepMs;
      Sleep(sleep);
      pauseLeft -= sleep;
      continue;
    }
    SetCommMask(handle, EV_RXCHAR);
    DWORD events = 0;
    if (WaitCommEvent(handle, &events, nullptr) && (events & EV_RXCHAR) != 0) {
      nextPause = kFirstPauseMs;
      continue;
    }
    pauseLeft = nextPause;
    nextPause = nextPause * 2 > kLongestPauseMs ? kLongestPauseMs : nextPause * 2;
  }
}

int NativeSerialPort::readBytes(BYTE *buffer, int count) {
  if (handle == INVALID_HANDLE_VALUE) {
    return -1;
  }
  if (!waitForInput()) {
    return -1;
  }
  DWORD bytesRead = 0;
  if (!ReadFile(handle, buffer, static_cast<DWORD>(count), &bytesRead, nullptr)) {
    return -1;
  }
  return static_cast<int>(bytesRead);
}

int NativeSerialPort::readByte() {
  if (handle == INVALID_HANDLE_VALUE) {
    return -4;
  }
  if (!waitForInput()) {
    return -1;
  }
  BYTE value = 0;
  DWORD bytesRead = 0;
  if (!ReadFile(handle, &value, 1, &bytesRead, nullptr)) {
    return -3;
  }
  if (bytesRead == 0) {
    return -1;
  }
  return value;
}

int NativeSerialPort::bytesAvailable() {
  if (handle == INVALID_HANDLE_VALUE) {
    return 0;
  }
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle, &errors, &status)) {
    return 0;
  }
  return static_cast<int>(status.cbInQue);
}
