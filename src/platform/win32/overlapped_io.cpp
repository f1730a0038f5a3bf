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
  return complete(file, bytesRead, [&](LPOVERLAPPED own) {
    return ::ReadFile(file, buffer, bytesToRead, nullptr, own);
  });
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
