// Data transfer: ReadFile, which returns at once with what is buffered (the
// only read time-outs SetCommTimeouts takes), and WriteFile, bounded by the
// write time-outs.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/posix/linux/device_gone.h"
#include "platform/posix/win32_calls/port_record.h"

namespace {

using tarvesk_posix::PortRecord;
using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // empty: no limit

// Waits until the device has room for output or is gone (returns its
// revents), the deadline passes (0), PurgeComm aborts the write
// (kWriteAborted) or poll fails (-1).
constexpr int kWriteAborted = -2;
int waitForRoom(PortRecord &port, unsigned int abortsAtStart, Deadline deadline) {
  for (;;) {
    int timeoutMs = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left.count() <= 0) {
        return 0;
      }
      timeoutMs = static_cast<int>(std::min<std::int64_t>(left.count(), 0x7FFFFFFF));
    }
    pollfd waits[] = {{port.tty.fd, POLLOUT, 0}, {port.writeWakeFd, POLLIN, 0}};
    const int ready = poll(waits, 2, timeoutMs);
    if (ready < 0 && errno != EINTR) {
      return -1;
    }
    if (ready > 0 && waits[1].revents != 0) {
      // A wake-up left by an abort that came before this write began is taken
      // and passed over.
      tarvesk_posix::drainWake(port.writeWakeFd);
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
  PortRecord *port = tarvesk_posix::recordFor(
      handle, overlapped == nullptr && done != nullptr && (buffer != nullptr || count == 0));
  if (port == nullptr) {
    return nullptr;
  }
  if (tarvesk_posix::isGone(port->tty)) {
    errno = EIO;
    return nullptr;
  }
  return port;
}

}  // namespace

// Returns at once with what is buffered, up to the count, maybe nothing.
// Fails when the device is gone, unless bytes came first: those are
// returned, and the next call fails. Input that another reader of the device
// takes first is not there to be read.
//
// What is buffered is more than one read() gives: n_tty holds 4 KiB, and the
// kernel keeps what the driver received beyond that in buffers of its own,
// handing it on as n_tty is read. A non-blocking read() that finds n_tty empty
// first waits for that hand-over, never for new input, so reading until
// EAGAIN takes everything received so far, up to the count, as a Win32 driver
// returns its whole input queue.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, OVERLAPPED *lpOverlapped) {
  PortRecord *port =
      transferTarget(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
  if (port == nullptr) {
    return FALSE;
  }
  BYTE *buffer = static_cast<BYTE *>(lpBuffer);
  DWORD got = 0;
  bool failed = false;
  while (got < nNumberOfBytesToRead) {
    const ssize_t n = read(port->tty.fd, buffer + got, nNumberOfBytesToRead - got);
    if (n > 0) {
      got += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    // Nothing more to read now (EAGAIN, or 0 bytes where VMIN is 0), or a
    // device that failed.
    failed = tarvesk_posix::transferShowsGone(port->tty, n) || (n < 0 && errno != EAGAIN);
    break;
  }
  *lpNumberOfBytesRead = got;
  if (failed && got == 0) {
    if (tarvesk_posix::isGone(port->tty)) {
      errno = EIO;
    }
    return FALSE;
  }
  return TRUE;
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
  const COMMTIMEOUTS &t = port->timeouts;
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
      tarvesk_posix::transferShowsGone(port->tty, n);
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
    if ((ready & POLLOUT) == 0 && tarvesk_posix::pollShowsGone(port->tty, ready)) {
      errno = EIO;  // no room will ever come
      result = FALSE;
      break;
    }
  }
  *lpNumberOfBytesWritten = sent;
  return result;
}
