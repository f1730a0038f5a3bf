// Data transfer: ReadFile and WriteFile, with Win32's COMMTIMEOUTS rules.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/posix/hang_up.h"
#include "platform/posix/port_record.h"

namespace {

using tarvesk_posix::PortRecord;
using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // empty: no limit

Clock::time_point after(std::uint64_t milliseconds) {
  return Clock::now() + std::chrono::milliseconds(milliseconds);
}

Deadline earlier(Deadline a, Deadline b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

// Waits until fd reports one of events (returns revents), the deadline passes
// (returns 0) or poll fails (returns -1). A hang-up ends it whatever events
// are: with none, it is a pause.
int waitFor(int fd, short events, Deadline deadline) {
  for (;;) {
    int timeoutMs = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left.count() <= 0) {
        return 0;
      }
      timeoutMs = static_cast<int>(std::min<std::int64_t>(left.count(), 0x7FFFFFFF));
    }
    pollfd wait{fd, events, 0};
    const int ready = poll(&wait, 1, timeoutMs);
    if (ready > 0) {
      return wait.revents;
    }
    if (ready < 0 && errno != EINTR) {
      return -1;
    }
    // time-out of one slice (deadline rechecked above) or a signal
  }
}

// How a read ends, from COMMTIMEOUTS as Win32 reads them.
struct ReadPlan {
  bool returnAtOnce = false;        // MAXDWORD, 0, 0: what is buffered, maybe nothing
  bool returnAfterFirst = false;    // MAXDWORD, MAXDWORD, c: what is buffered once there
                                    // is something, or nothing after c ms
  Deadline total;                   // multiplier * n + constant
  std::optional<DWORD> intervalMs;  // longest gap between two bytes, once one came
};

ReadPlan planRead(const COMMTIMEOUTS &t, DWORD count) {
  ReadPlan plan;
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    plan.returnAtOnce = true;
    return plan;
  }
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD) {
    plan.returnAfterFirst = true;
    plan.total = after(t.ReadTotalTimeoutConstant);
    return plan;
  }
  if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
    plan.total =
        after(std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant);
  }
  if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD) {
    plan.intervalMs = t.ReadIntervalTimeout;
  }
  return plan;
}

// The record a ReadFile or WriteFile works on, with its count cleared; null
// (errno set) for a bad handle or argument, and for a device known to be
// gone, where bytes would be lost without a word.
PortRecord *transferTarget(HANDLE handle, const void *buffer, DWORD count, LPDWORD done,
                           OVERLAPPED *overlapped) {
  if (done != nullptr) {
    *done = 0;
  }
  PortRecord *port =
      tarvesk_posix::recordFor(handle, overlapped == nullptr && (buffer != nullptr || count == 0));
  if (port == nullptr) {
    return nullptr;
  }
  if (tarvesk_posix::isGone(*port)) {
    errno = EIO;
    return nullptr;
  }
  return port;
}

}  // namespace

// Succeeds with fewer bytes than asked when a time-out ends the read, as on
// Win32. Fails when the device has hung up, unless bytes came first: those
// are returned, and the next call fails. Input that another reader of the
// device takes first is not there to be read.
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
  const ReadPlan plan = planRead(port->timeouts, nNumberOfBytesToRead);
  DWORD got = 0;
  Deadline gapEnds;
  bool failed = false;
  while (got < nNumberOfBytesToRead) {
    const ssize_t n = read(port->fd, buffer + got, nNumberOfBytesToRead - got);
    if (n > 0) {
      got += static_cast<DWORD>(n);
      if (plan.intervalMs) {
        gapEnds = after(*plan.intervalMs);
      }
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (tarvesk_posix::transferShowsGone(*port, n) || (n < 0 && errno != EAGAIN)) {
      failed = true;
      break;
    }
    // Nothing to read now (EAGAIN, or 0 bytes where VMIN is 0).
    if (plan.returnAtOnce || (plan.returnAfterFirst && got > 0)) {
      break;
    }
    const int ready = waitFor(port->fd, POLLIN, earlier(plan.total, gapEnds));
    if (ready == 0) {
      break;  // time-out: what was read so far is the result
    }
    if (ready < 0) {
      failed = true;
      break;
    }
    // readable or hung up: the next read() tells which
  }
  if (lpNumberOfBytesRead != nullptr) {
    *lpNumberOfBytesRead = got;
  }
  if (failed && got == 0) {
    if (tarvesk_posix::isGone(*port)) {
      errno = EIO;
    }
    return FALSE;
  }
  return TRUE;
}

// Writes all bytes, waiting for room in the output queue, for at most
// multiplier * n + constant ms (0 and 0: no limit). On time-out it succeeds
// with the count actually queued, as Win32 does; it fails on a device error.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, OVERLAPPED *lpOverlapped) {
  PortRecord *port =
      transferTarget(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
  if (port == nullptr) {
    return FALSE;
  }
  const BYTE *bytes = static_cast<const BYTE *>(lpBuffer);
  const COMMTIMEOUTS &t = port->timeouts;
  const bool limited = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
  // Most writes find room at once, so the clock is read only when one has to
  // wait: the limit then starts one non-blocking write() after the call.
  Deadline deadline;
  DWORD sent = 0;
  BOOL result = TRUE;
  while (sent < nNumberOfBytesToWrite) {
    const ssize_t n = write(port->fd, bytes + sent, nNumberOfBytesToWrite - sent);
    if (n > 0) {
      sent += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN) {
      tarvesk_posix::transferShowsGone(*port, n);
      result = FALSE;
      break;
    }
    if (limited && !deadline) {
      deadline = after(std::uint64_t{t.WriteTotalTimeoutMultiplier} * nNumberOfBytesToWrite +
                       t.WriteTotalTimeoutConstant);
    }
    const int ready = waitFor(port->fd, POLLOUT, deadline);
    if (ready == 0) {
      break;  // time-out
    }
    if (ready < 0) {
      result = FALSE;
      break;
    }
    if ((ready & POLLOUT) == 0 && tarvesk_posix::pollShowsGone(*port, ready)) {
      errno = EIO;  // no room will ever come
      result = FALSE;
      break;
    }
  }
  if (lpNumberOfBytesWritten != nullptr) {
    *lpNumberOfBytesWritten = sent;
  }
  return result;
}
