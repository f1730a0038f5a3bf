#pragma once

// The port opened for overlapped I/O beneath the core's synchronous calls.
//
// Desktop Windows runs one call at a time on a handle opened without
// FILE_FLAG_OVERLAPPED: a read waiting in WaitCommEvent would hold up every
// other thread's WriteFile, ClearCommError and SetCommState until a byte
// arrived. Opened overlapped, the calls run side by side. Each of these takes
// the Win32 function's arguments and, given no OVERLAPPED, starts the call
// with one of its own and waits until it completes, so the caller sees a
// synchronous call; given one, it is the system's call unchanged. Offsets are
// 0, which suits devices with no file position, such as serial ports. A
// ReadFile under the read time-outs MAXDWORD, MAXDWORD, c (wait up to c ms for
// a first byte) is carried out with plans Wine honours too.
// platform/platform.h routes the core's calls of these names here.
#include <windows.h>

namespace overlapped_io {

// The system's CreateFileW, with FILE_FLAG_OVERLAPPED added.
HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped);
BOOL WINAPI WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);

// PURGE_TXABORT and PURGE_RXABORT end the calls above that are in progress on
// the handle, from any thread, with CancelIoEx: Wine's PurgeComm ends none
// (it only flushes the tty, dropping what a pseudo-terminal's peer has been
// handed already). A cancelled call fails with ERROR_OPERATION_ABORTED and
// the count it moved, which went out. The handle keeps no record of which
// call is which, so either abort ends both directions: a WaitCommEvent ended
// this way returns with no event, as when the mask changes. Other flags go to
// the system's PurgeComm.
BOOL WINAPI PurgeComm(HANDLE file, DWORD flags);

}  // namespace overlapped_io
