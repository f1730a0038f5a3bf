#include "serial/native_serial_port.h"

namespace {

// How long to pause after a wait that reported no character before asking the
// driver again. Such a wait would otherwise turn the read into a busy loop:
// a driver whose wait keeps failing, Wine's WaitCommEvent on a pseudo-terminal
// (success with no event every millisecond or two), Windows when the mask
// changes under a waiting call. The pause doubles up to a limit short enough
// that a byte arriving meanwhile is still read within 20 ms, and starts again
// from the first once a wait reports a character.
constexpr DWORD kFirstRetryPauseMs = 1;
constexpr DWORD kLongestRetryPauseMs = 16;

}  // namespace

// Returns true once the input queue holds a byte, false when the driver can
// no longer tell (the device is gone or the handle is bad). Never gives up
// while the driver still answers: the read it serves has no time limit.
bool NativeSerialPort::waitForInput() {
  DWORD retryPause = kFirstRetryPauseMs;
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) {
      return false;
    }
    if (status.cbInQue > 0) {
      return true;
    }
    SetCommMask(handle, EV_RXCHAR);
    DWORD events = 0;
    if (WaitCommEvent(handle, &events, nullptr) && (events & EV_RXCHAR) != 0) {
      retryPause = kFirstRetryPauseMs;
      continue;
    }
    Sleep(retryPause);
    retryPause = retryPause * 2 > kLongestRetryPauseMs ? kLongestRetryPauseMs : retryPause * 2;
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
