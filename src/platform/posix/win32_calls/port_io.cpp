// Data transfer: ReadFile, which returns at once with what is buffered or
// waits up to the read time-out for a first byte, and WriteFile, bounded by
// the write time-outs.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/posix/linux/device_gone.h"
#include "platform/posix/win32_calls/port_record.h"
#include "platform/posix/win32_calls/wait_in_progress.h"

namespace {

using tarvesk_win32_calls::PortRecord;
using tarvesk_win32_calls::WaitInProgress;
using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // empty: no limit

// What is left until the deadline, in whole milliseconds rounded up, as
// poll() takes it; 0 once it has passed.
int msUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 0x7FFFFFFF));
}

// Waits until the device has room for output or is gone (returns its
// revents), the deadline passes (0), PurgeComm aborts the write
// (kWriteAborted) or poll fails (-1).
constexpr int kWriteAborted = -2;
int waitForRoom(PortRecord &port, unsigned int abortsAtStart, Deadline deadline) {
  for (;;) {
    const int timeoutMs = deadline ? msUntil(*deadline) : -1;
    if (timeoutMs == 0) {
      return 0;
    }
    pollfd waits[] = {{port.tty.fd, POLLOUT, 0}, {port.writeWakeFd, POLLIN, 0}};
    const int ready = poll(waits, 2, timeoutMs);
    if (ready < 0 && errno != EINTR) {
      return -1;
    }
    if (ready > 0 && waits[1].revents != 0) {
      // A wake-up left by an abort that came before this write began is taken
      // and passed over.
      tarvesk_win32_calls::drainWake(port.writeWakeFd);
      if (port.txAborts != abortsAtStart) {
        return kWriteAborted;
      }
    }
    if (ready > 0 && waits[0].revents != 0) {
      return waits[0].revents;
    }
    // time-out of one slice (deadline rechecked above), a signal, or a stale
    // wake-up
  }
}

// The record a ReadFile or WriteFile works on, with its count cleared; null
// (errno set) for a bad handle or argument, and for a device known to be
// gone, where bytes would be lost without a word.
PortRecord *transferTarget(HANDLE handle, const void *buffer, DWORD count, LPDWORD done,
                           OVERLAPPED *overlapped) {
  if (done != nullptr) {
    *done = 0;
  }
  PortRecord *port = tarvesk_win32_calls::recordFor(
      handle, overlapped == nullptr && done != nullptr && (buffer != nullptr || count == 0));
  if (port == nullptr) {
    return nullptr;
  }
  if (tarvesk_linux::isGone(port->tty)) {
    errno = EIO;
    return nullptr;
  }
  return port;
}

// Reads what is buffered, up to count, into buffer from got on, adding to got.
// Returns false when the device failed or is gone (errno says which).
//
// What is buffered is more than one read() gives: n_tty holds 4 KiB, and the
// kernel keeps what the driver received beyond that in buffers of its own,
// handing it on as n_tty is read. A non-blocking read() that finds n_tty empty
// first waits for that hand-over, never for new input, so reading until
// EAGAIN takes everything received so far, up to the count, as a Win32 driver
// returns its whole input queue.
bool readBuffered(PortRecord &port, BYTE *buffer, DWORD count, DWORD &got) {
  while (got < count) {
    const ssize_t n = read(port.tty.fd, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    // Nothing more to read now (EAGAIN, or 0 bytes where VMIN is 0), or a
    // device that failed.
    if (tarvesk_linux::transferShowsGone(port.tty, n)) {
      errno = EIO;
      return false;
    }
    return n == 0 || errno == EAGAIN;
  }
  return true;
}

enum class InputWait { kDeviceStirred, kTimedOut, kAborted, kFailed };

// Waits, without using the processor, until the device polls readable or
// gone, the deadline passes, or PurgeComm aborts the reads that began before
// abortsAtStart was read. For quietMs first the device is not polled: it
// polled readable before with nothing to read (another reader took it, or a
// faulty driver), and polling it again at once would spin. The caller holds
// the handle's wait in progress, through which PurgeComm and SetCommMask wake
// it; a wake-up of SetCommMask's, or one left from before, is passed over.
InputWait waitForInput(PortRecord &port, unsigned int abortsAtStart, Clock::time_point deadline,
                       int quietMs) {
  const Clock::time_point quietUntil = Clock::now() + std::chrono::milliseconds(quietMs);
  for (;;) {
    // Counted before the poll: an abort after this look signals the eventfd.
    if (port.rxAborts != abortsAtStart) {
      return InputWait::kAborted;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      return InputWait::kTimedOut;
    }
    const bool quiet = now < quietUntil;
    const int timeoutMs = msUntil(quiet ? std::min(quietUntil, deadline) : deadline);
    pollfd waits[] = {{port.wakeFd, POLLIN, 0}, {port.tty.fd, POLLIN, 0}};
    const int ready = poll(waits, quiet ? 1 : 2, timeoutMs);
    if (ready < 0 && errno != EINTR) {
      return InputWait::kFailed;
    }
    if (ready > 0 && waits[0].revents != 0) {
      tarvesk_win32_calls::drainWake(port.wakeFd);
    }
    if (ready > 0 && !quiet && waits[1].revents != 0) {
      return InputWait::kDeviceStirred;
    }
  }
}

// The read time-outs wait for a first byte: MAXDWORD, MAXDWORD and a
// constant, the one such plan SetCommTimeouts takes.
bool waitsForFirstByte(const COMMTIMEOUTS &t) {
  return t.ReadTotalTimeoutMultiplier == MAXDWORD && t.ReadTotalTimeoutConstant != 0;
}

// After a device that polled readable gave nothing, it is left alone this
// long, doubling up to a limit while that repeats.
constexpr int kFirstQuietMs = 1;
constexpr int kLongestQuietMs = 100;

// Waits for a first byte up to the read time-out and reads what is buffered
// then. Returns false when the device failed or is gone, or PurgeComm aborted
// the read (errno ECANCELED); true with got still 0 when the time ran out.
bool readFirstByteWithin(PortRecord &port, unsigned int abortsAtStart, DWORD timeoutMs,
                         BYTE *buffer, DWORD count, DWORD &got) {
  const WaitInProgress wait(port);
  if (!wait.isClaimed()) {
    errno = EINVAL;  // a WaitCommEvent is in progress
    return false;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (int quietMs = 0; got == 0;
       quietMs = std::min(quietMs == 0 ? kFirstQuietMs : 2 * quietMs, kLongestQuietMs)) {
    switch (waitForInput(port, abortsAtStart, deadline, quietMs)) {
      case InputWait::kTimedOut:
        return true;
      case InputWait::kAborted:
        errno = ECANCELED;
        return false;
      case InputWait::kFailed:
        return false;
      case InputWait::kDeviceStirred:
        if (!readBuffered(port, buffer, count, got)) {
          return false;  // with what came before the failure, if anything
        }
        break;
    }
  }
  return true;
}

}  // namespace

// Returns at once with what is buffered, up to the count; if nothing is and
// the read time-outs say so (MAXDWORD, MAXDWORD, c), waits up to c ms for a
// first byte and returns it with what else is buffered then, or nothing when
// the time runs out. Fails when the device is gone, unless bytes came first:
// those are returned, and the next call fails; and when PurgeComm aborts the
// wait (ECANCELED). Input that another reader of the device takes first is
// not there to be read.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, OVERLAPPED *lpOverlapped) {
  PortRecord *port =
      transferTarget(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
  if (port == nullptr) {
    return FALSE;
  }
  // Before anything is read: an abort that comes later ends this read.
  const unsigned int abortsAtStart = port->rxAborts;
  const COMMTIMEOUTS timeouts = port->timeouts.load();
  BYTE *buffer = static_cast<BYTE *>(lpBuffer);
  DWORD got = 0;
  bool ok = readBuffered(*port, buffer, nNumberOfBytesToRead, got);
  if (ok && got == 0 && nNumberOfBytesToRead > 0 && waitsForFirstByte(timeouts)) {
    ok = readFirstByteWithin(*port, abortsAtStart, timeouts.ReadTotalTimeoutConstant, buffer,
                             nNumberOfBytesToRead, got);
  }
  *lpNumberOfBytesRead = got;
  return ok || got > 0 ? TRUE : FALSE;
}

// Writes all bytes, waiting for room in the output queue, for at most
// multiplier * n + constant ms (0 and 0: no limit). On time-out it succeeds
// with the count actually queued, as Win32 does; it fails on a device error,
// and when PurgeComm aborts it (ECANCELED), with the count queued until then:
// those bytes are the device's and go out.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, OVERLAPPED *lpOverlapped) {
  PortRecord *port =
      transferTarget(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
  if (port == nullptr) {
    return FALSE;
  }
  const unsigned int abortsAtStart = port->txAborts;
  const BYTE *bytes = static_cast<const BYTE *>(lpBuffer);
  const COMMTIMEOUTS t = port->timeouts.load();
  const bool limited = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
  // Most writes find room at once, so the clock is read only when one has to
  // wait: the limit then starts one non-blocking write() after the call.
  Deadline deadline;
  DWORD sent = 0;
  BOOL result = TRUE;
  while (sent < nNumberOfBytesToWrite) {
    const ssize_t n = write(port->tty.fd, bytes + sent, nNumberOfBytesToWrite - sent);
    if (n > 0) {
      sent += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN) {
      tarvesk_linux::transferShowsGone(port->tty, n);
      result = FALSE;
      break;
    }
    if (limited && !deadline) {
      deadline =
          Clock::now() + std::chrono::milliseconds(std::uint64_t{t.WriteTotalTimeoutMultiplier} *
                                                       nNumberOfBytesToWrite +
                                                   t.WriteTotalTimeoutConstant);
    }
    const int ready = waitForRoom(*port, abortsAtStart, deadline);
    if (ready == 0) {
      break;  // time-out
    }
    if (ready < 0) {
      if (ready == kWriteAborted) {
        errno = ECANCELED;
      }
      result = FALSE;
      break;
    }
    if ((ready & POLLOUT) == 0 && tarvesk_linux::pollShowsGone(port->tty, ready)) {
      errno = EIO;  // no room will ever come
      result = FALSE;
      break;
    }
  }
  *lpNumberOfBytesWritten = sent;
  return result;
}
