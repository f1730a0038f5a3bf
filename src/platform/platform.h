// The platform as the library's core sees it: the Win32 names, records and
// functions for serial devices, the registry, text and message boxes.
//
// On Windows this is <windows.h> itself, with the port's I/O made overlapped
// underneath on the desktop (platform/win32/). Elsewhere it declares the names the core
// uses, with the same layouts; on Linux platform/posix/ carries out the calls
// (win32_calls/, standing on the Linux pieces in linux/), and in the unit
// tests a recording fake does. Which implementation is used is decided by
// what gets linked, so the core never asks which platform it runs on.
#pragma once

#ifdef _WIN32

#ifndef UNICODE
#define UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Desktop Windows only (no _WIN32_WCE): the port is opened for overlapped
// I/O, so that a waiting read holds up no other call; these names take the
// core's synchronous calls to the layer that completes each
// (platform/win32/overlapped_io.h), as <windows.h> takes its plain names to
// their W forms. Windows CE has no overlapped I/O, and its serial drivers
// take calls from several threads at once on a plain handle: a CE build
// makes the calls as they are.
#ifndef _WIN32_WCE
#include "platform/win32/overlapped_io.h"
#define CreateFileW overlapped_io::CreateFileW
#define ReadFile overlapped_io::ReadFile
#define WriteFile overlapped_io::WriteFile
#define WaitCommEvent overlapped_io::WaitCommEvent
// Its aborts end the transfers above, which wait in this layer, not in the
// system's call (platform/win32/overlapped_io.h says why).
#define PurgeComm overlapped_io::PurgeComm
#endif

#else

// platform/posix/ carries out the calls the core makes, with the arguments
// it passes, as Win32 does, and nothing more: a name the core does not use
// is not declared here, and an argument it never passes makes the call fail
// (errno EINVAL; ERROR_INVALID_PARAMETER from the registry). What Linux
// cannot do exactly is refused as well, never approximated.
#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;  // 32 bits as on Windows, not Linux's 64-bit long
using LONG = std::int32_t;
using UINT = unsigned int;
using WCHAR = char16_t;  // one UTF-16 unit, the same size as Java's jchar
using HANDLE = void *;
using HWND = void *;
using LPVOID = void *;
using LPCVOID = const void *;
using LPDWORD = DWORD *;
using LPBYTE = BYTE *;
using LPWSTR = WCHAR *;
using LPCWSTR = const WCHAR *;
using REGSAM = DWORD;

struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
struct HKEY__;
using HKEY = HKEY__ *;
using PHKEY = HKEY *;

#define TEXT(s) u##s

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
// A pointer with all bits set, as Win32 defines it; not a constant expression.
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;

// EscapeCommFunction
constexpr DWORD SETRTS = 3;
constexpr DWORD SETDTR = 5;

// DCB codes
constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;

// Comm events
constexpr DWORD EV_RXCHAR = 0x0001;

// PurgeComm
constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;

// Message boxes
constexpr UINT MB_OK = 0x00000000u;
constexpr int IDOK = 1;

// Registry
// A 32-bit LONG widened with its sign, as Win32 defines it (0xFFFFFFFF80000002 on 64 bits).
#define HKEY_LOCAL_MACHINE \
  (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002u))))
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;

// Win32 error codes
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_GEN_FAILURE = 31;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;

struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
using LPDCB = DCB *;
static_assert(sizeof(DCB) == 28, "DCB must keep the Win32 layout");
static_assert(offsetof(DCB, wReserved) == 12, "the flag word is the third DWORD");
static_assert(offsetof(DCB, ByteSize) == 18, "DCB must keep the Win32 layout");

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
using LPCOMMTIMEOUTS = COMMTIMEOUTS *;
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS must keep the Win32 layout");

struct COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
};
using LPCOMSTAT = COMSTAT *;
static_assert(sizeof(COMSTAT) == 12, "COMSTAT must keep the Win32 layout");

// Serial devices. CreateFileW opens a port by name ("COM1:", "COM1") or
// absolute path, existing, for reading and writing, exclusively, synchronous.
// SetCommState takes any speed and framing Linux can honour exactly, without
// flow control and with DTR and RTS on. SetCommTimeouts takes two read plans:
// MAXDWORD, 0, 0, under which ReadFile returns at once with what is buffered,
// and MAXDWORD, MAXDWORD, c (0 < c < MAXDWORD), under which a ReadFile that
// finds nothing buffered waits up to c ms for a first byte and returns it with
// what else is buffered then, or nothing; WriteFile gives up at the write
// time-outs. EscapeCommFunction raises DTR or RTS where the device has
// the lines (a pseudo-terminal has none). ClearCommError counts the input
// queue alone. WaitCommEvent, for EV_RXCHAR, ends when the device polls
// readable, which promises no input (another reader may take it first), when
// the device is gone, or when SetCommMask is called from another thread (no
// event; a handle has one wait at a time). PurgeComm ends the transfers in
// progress: PURGE_TXABORT a WriteFile waiting for room (it fails, with the
// count it handed to the device, which still goes out), PURGE_RXABORT a
// ReadFile waiting for its first byte (it fails); it clears no queue. A call that fails leaves
// errno saying why.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   SECURITY_ATTRIBUTES *lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL CloseHandle(HANDLE hObject);
BOOL GetCommState(HANDLE hFile, LPDCB lpDCB);
BOOL SetCommState(HANDLE hFile, LPDCB lpDCB);
BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc);
BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat);
BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask);
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, OVERLAPPED *lpOverlapped);
BOOL PurgeComm(HANDLE hFile, DWORD dwFlags);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, OVERLAPPED *lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, OVERLAPPED *lpOverlapped);
void Sleep(DWORD dwMilliseconds);

// Registry: HKEY_LOCAL_MACHINE\Drivers\Active, opened to enumerate its
// subkeys, one per port, each opened to query its string value "Name".
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult);
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, FILETIME *lpftLastWriteTime);
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegCloseKey(HKEY hKey);

// Text on 16-bit units. C++ overloads, so they never clash with the C
// library's wchar_t functions of the same names. wsprintfW knows %d alone.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
std::size_t wcslen(LPCWSTR text);
int wcsncmp(LPCWSTR left, LPCWSTR right, std::size_t count);

// User interface: the message is one line on stderr or in
// TARVESK_MESSAGE_LOG, and the call returns IDOK at once.
int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

#endif
