#include "serial/native_serial_port.h"

namespace {

// After a wait that leaves the input queue empty the read pauses before it
// waits again; otherwise a driver whose wait keeps failing, Wine's
// WaitCommEvent on a pseudo-terminal (success with no event every millisecond
// or two, each costing over a millisecond of processor time), a device that
// keeps reporting input it never hands out, or Windows when the mask changes
// under a waiting call would make it a busy loop. The pause doubles up to a
// limit while the wait goes on. It is spent in short sleeps, each followed by
// a look at the queue, so that a byte arriving meanwhile is read within about
// 10 ms.
constexpr DWORD kFirstPauseMs = 1;
constexpr DWORD kLongestPauseMs = 100;
constexpr DWORD kLongestSleepMs = 10;

DWORD pauseAfter(DWORD pause) { return pause * 2 > kLongestPauseMs ? kLongestPauseMs : pause * 2; }

// While it lives, the driver's ReadFile waits up to timeoutMs for its first
// byte and returns it with whatever else is buffered (the read time-outs
// MAXDWORD, MAXDWORD, timeoutMs); the port's defaults are put back after it on
// every path. The write time-outs stay the defaults, as writes run beside the
// read. A timeoutMs of 0 leaves the defaults, which return at once.
class FirstByteWithin {
 public:
  FirstByteWithin(HANDLE handle, DWORD timeoutMs) : handle(handle) {
    if (timeoutMs == 0) {
      return;
    }
    COMMTIMEOUTS timeouts{};
    NativeSerialPort::setDefaultTimeouts(timeouts);
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = timeoutMs < MAXDWORD ? timeoutMs : MAXDWORD - 1;
    changed = SetCommTimeouts(handle, &timeouts) != FALSE;
    failed = !changed;
  }
  ~FirstByteWithin() {
    if (changed) {
      COMMTIMEOUTS defaults{};
      NativeSerialPort::setDefaultTimeouts(defaults);
      SetCommTimeouts(handle, &defaults);
    }
  }
  FirstByteWithin(const FirstByteWithin &) = delete;
  FirstByteWithin &operator=(const FirstByteWithin &) = delete;

  bool isSet() const { return !failed; }

 private:
  HANDLE handle;
  bool changed = false;
  bool failed = false;
};

}  // namespace

// Returns true once the input queue holds a byte, false when the driver can
// no longer tell (the device is gone or the handle is bad) or reads are
// cancelled. Never gives up while the driver still answers: the read it
// serves has no time limit. pauseFirst is slept through before the queue is
// asked.
bool NativeSerialPort::waitForInput(DWORD pauseFirst) {
  for (DWORD left = pauseFirst; left > 0;) {
    if (ioCancelled) {
      return false;
    }
    const DWORD sleep = left < kLongestSleepMs ? left : kLongestSleepMs;
    Sleep(sleep);
    left -= sleep;
  }
  DWORD nextPause = kFirstPauseMs;
  DWORD pauseLeft = 0;
  bool waited = false;
  for (;;) {
    if (ioCancelled) {
      return false;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) {
      return false;
    }
    if (status.cbInQue > 0) {
      return true;
    }
    // The queue, not the wait's report, says whether input came: a wait that
    // ended with the queue empty failed, reported no character, or reported
    // one that another reader of the device took first (or that a faulty
    // driver never hands out). Waiting again at once could spin.
    if (waited) {
      waited = false;
      pauseLeft = nextPause;
      nextPause = pauseAfter(nextPause);
    }
    if (pauseLeft > 0) {
      const DWORD sleep = pauseLeft < kLongestSleepMs ? pauseLeft : kLongestSleepMs;
      Sleep(sleep);
      pauseLeft -= sleep;
      continue;
    }
    SetCommMask(handle, EV_RXCHAR);
    if (ioCancelled) {
      return false;  // see cancelIo
    }
    DWORD events = 0;
    WaitCommEvent(handle, &events, nullptr);
    waited = true;
  }
}

int NativeSerialPort::readBytes(BYTE *buffer, int count) {
  if (handle == INVALID_HANDLE_VALUE) {
    return -1;
  }
  for (DWORD pause = 0;; pause = pause == 0 ? kFirstPauseMs : pauseAfter(pause)) {
    if (!waitForInput(pause) || ioCancelled) {
      return -1;
    }
    DWORD bytesRead = 0;
    if (!ReadFile(handle, buffer, static_cast<DWORD>(count), &bytesRead, nullptr)) {
      return -1;
    }
    if (bytesRead > 0 || count == 0) {
      return static_cast<int>(bytesRead);
    }
    // Another reader of the device took what was counted: wait again, after
    // a pause that grows while this repeats, so that a driver that counts
    // input it never hands out costs no processor time.
  }
}

// Bytes the driver hands over are returned even when the read was cancelled
// meanwhile or failed after them: they have left its queue.
int NativeSerialPort::readBytesWithin(BYTE *buffer, int count, DWORD timeoutMs) {
  if (handle == INVALID_HANDLE_VALUE || ioCancelled) {
    return -1;
  }
  if (count == 0) {
    return 0;
  }
  if (timeoutMs == 0) {
    // The queue is asked first, as by readBytes: a driver's read that should
    // return at once may still wait when nothing is queued (Wine's does).
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) {
      return -1;
    }
    if (status.cbInQue == 0) {
      return 0;
    }
  }
  DWORD bytesRead = 0;
  BOOL read = FALSE;
  {
    const FirstByteWithin plan(handle, timeoutMs);
    if (!plan.isSet()) {
      return -1;
    }
    read = ReadFile(handle, buffer, static_cast<DWORD>(count), &bytesRead, nullptr);
  }
  if (bytesRead > 0) {
    return static_cast<int>(bytesRead);
  }
  // A driver may end a cancelled read as if its time had run out.
  return !read || ioCancelled ? -1 : 0;
}

int NativeSerialPort::readByte() {
  if (handle == INVALID_HANDLE_VALUE) {
    return -4;
  }
  if (!waitForInput(0) || ioCancelled) {
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
