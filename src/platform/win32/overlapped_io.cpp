#include "platform/win32/overlapped_io.h"

namespace overlapped_io {

namespace {

// Starts a call with an OVERLAPPED and a manual-reset event of its own and
// waits for it to complete. The driver's time-outs bound a read or write as
// they would a synchronous one; a WaitCommEvent waits without using the
// processor until an event comes or the mask changes. GetLastError tells what
// failed, also after the event is closed. The count is handed on whatever the
// result: Wine ends a write whose time-out passed with success and the bytes
// it moved, or, when it moved none, with ERROR_TIMEOUT and 0.
template <typename Start>
BOOL complete(HANDLE file, LPDWORD transferred, Start start) {
  DWORD count = 0;
  BOOL done = FALSE;
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent != nullptr) {
    done = start(&overlapped);
    if (done || GetLastError() == ERROR_IO_PENDING) {
      done = GetOverlappedResult(file, &overlapped, &count, TRUE);
    }
    const DWORD error = GetLastError();
    CloseHandle(overlapped.hEvent);
    SetLastError(error);
  }
  if (transferred != nullptr) {
    *transferred = count;
  }
  return done;
}

// Win32's plan for a read that waits up to ReadTotalTimeoutConstant ms for its
// first byte and returns it with whatever else is buffered.
bool waitsForFirstByte(const COMMTIMEOUTS &plan) {
  return plan.ReadIntervalTimeout == MAXDWORD && plan.ReadTotalTimeoutMultiplier == MAXDWORD &&
         plan.ReadTotalTimeoutConstant > 0 && plan.ReadTotalTimeoutConstant < MAXDWORD;
}

// A read with a time-out of its own that ends with nothing ends as Win32 has
// it, with success and a count of 0; Wine reports ERROR_TIMEOUT instead.
BOOL readOf(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) {
  const BOOL done = complete(file, bytesRead, [&](LPOVERLAPPED own) {
    return ::ReadFile(file, buffer, bytesToRead, nullptr, own);
  });
  return done || (GetLastError() == ERROR_TIMEOUT && *bytesRead == 0);
}

// The wait for a first byte, carried out with the plans Wine 8 honours too:
// it takes MAXDWORD, MAXDWORD, c for an overlapped read as a limit of
// MAXDWORD * count + c ms that ends only once the count is filled. So one
// byte is read under a total time-out of c ms, which ends as soon as it
// comes, and then what else is buffered, at once; the caller's plan is put
// back after. An abort (PurgeComm, CancelIoEx) ends the wait as it would the
// read.
BOOL readFirstByteWithin(HANDLE file, BYTE *buffer, DWORD bytesToRead, DWORD &bytesRead,
                         COMMTIMEOUTS plan) {
  COMMTIMEOUTS firstByte = plan;
  firstByte.ReadIntervalTimeout = 0;
  firstByte.ReadTotalTimeoutMultiplier = 0;
  if (!::SetCommTimeouts(file, &firstByte)) {
    return FALSE;
  }
  DWORD first = 0;
  BOOL done = readOf(file, buffer, 1, &first);
  DWORD rest = 0;
  DWORD errors = 0;
  COMSTAT queue{};
  // Only what the queue holds: Wine's read that returns at once waits all
  // the same when nothing is queued. A failure here is the next read's to
  // report: the first byte is read.
  if (done && first == 1 && bytesToRead > 1 && ::ClearCommError(file, &errors, &queue) &&
      queue.cbInQue > 0) {
    COMMTIMEOUTS buffered = plan;
    buffered.ReadTotalTimeoutMultiplier = 0;
    buffered.ReadTotalTimeoutConstant = 0;
    const DWORD wanted = queue.cbInQue < bytesToRead - 1 ? queue.cbInQue : bytesToRead - 1;
    if (::SetCommTimeouts(file, &buffered) && !readOf(file, buffer + 1, wanted, &rest)) {
      rest = 0;
    }
  }
  const DWORD error = GetLastError();
  ::SetCommTimeouts(file, &plan);
  SetLastError(error);
  bytesRead = first + rest;
  return done;
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile) {
  return ::CreateFileW(fileName, desiredAccess, shareMode, securityAttributes, creationDisposition,
                       flagsAndAttributes | FILE_FLAG_OVERLAPPED, templateFile);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) {
    return ::ReadFile(file, buffer, bytesToRead, bytesRead, overlapped);
  }
  // Asked on every read, as the layer keeps nothing of its own: only the
  // driver knows the plan in force.
  COMMTIMEOUTS plan{};
  DWORD count = 0;
  const BOOL done =
      bytesToRead > 0 && ::GetCommTimeouts(file, &plan) && waitsForFirstByte(plan)
          ? readFirstByteWithin(file, static_cast<BYTE *>(buffer), bytesToRead, count, plan)
          : complete(file, &count, [&](LPOVERLAPPED own) {
              return ::ReadFile(file, buffer, bytesToRead, nullptr, own);
            });
  if (bytesRead != nullptr) {
    *bytesRead = count;
  }
  return done;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) {
    return ::WriteFile(file, buffer, bytesToWrite, bytesWritten, overlapped);
  }
  return complete(file, bytesWritten, [&](LPOVERLAPPED own) {
    return ::WriteFile(file, buffer, bytesToWrite, nullptr, own);
  });
}

// The mask is written when the wait completes; the count is of no use.
BOOL WINAPI WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) {
    return ::WaitCommEvent(file, eventMask, overlapped);
  }
  return complete(file, nullptr,
                  [&](LPOVERLAPPED own) { return ::WaitCommEvent(file, eventMask, own); });
}

BOOL WINAPI PurgeComm(HANDLE file, DWORD flags) {
  constexpr DWORD kAborts = PURGE_TXABORT | PURGE_RXABORT;
  if ((flags & kAborts) == 0) {
    return ::PurgeComm(file, flags);
  }
  if (!CancelIoEx(file, nullptr) && GetLastError() != ERROR_NOT_FOUND) {
    return FALSE;  // ERROR_NOT_FOUND: nothing was in progress
  }
  const DWORD clears = flags & ~kAborts;
  return clears == 0 || ::PurgeComm(file, clears);
}

}  // namespace overlapped_io
