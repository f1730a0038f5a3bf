// What every name of platform/platform.h must be, written down once. The
// same check compiles against our Linux declarations and against the real
// <windows.h>, so the two agree wherever both meet these values.
//
// The tables are X-macros: the names are macros on Windows, so they cannot
// be declared again here, only handed to a checking macro unexpanded.
#pragma once

// X(name, value): integer constants, compared as 32-bit patterns.
#define TARVESK_EXPECTED_CONSTANTS(X) \
  X(TRUE, 1)                          \
  X(FALSE, 0)                         \
  X(MAXDWORD, 0xFFFFFFFFu)            \
  X(GENERIC_READ, 0x80000000u)        \
  X(GENERIC_WRITE, 0x40000000u)       \
  X(OPEN_EXISTING, 3)                 \
  X(SETRTS, 3)                        \
  X(SETDTR, 5)                        \
  X(DTR_CONTROL_DISABLE, 0)           \
  X(DTR_CONTROL_ENABLE, 1)            \
  X(RTS_CONTROL_DISABLE, 0)           \
  X(RTS_CONTROL_ENABLE, 1)            \
  X(RTS_CONTROL_HANDSHAKE, 2)         \
  X(NOPARITY, 0)                      \
  X(ODDPARITY, 1)                     \
  X(EVENPARITY, 2)                    \
  X(MARKPARITY, 3)                    \
  X(SPACEPARITY, 4)                   \
  X(ONESTOPBIT, 0)                    \
  X(ONE5STOPBITS, 1)                  \
  X(TWOSTOPBITS, 2)                   \
  X(EV_RXCHAR, 0x0001)                \
  X(PURGE_TXABORT, 0x0001)            \
  X(PURGE_RXABORT, 0x0002)            \
  X(MB_OK, 0x00000000u)               \
  X(IDOK, 1)                          \
  X(KEY_QUERY_VALUE, 0x0001)          \
  X(KEY_ENUMERATE_SUB_KEYS, 0x0008)   \
  X(ERROR_SUCCESS, 0)                 \
  X(ERROR_FILE_NOT_FOUND, 2)          \
  X(ERROR_TOO_MANY_OPEN_FILES, 4)     \
  X(ERROR_ACCESS_DENIED, 5)           \
  X(ERROR_INVALID_HANDLE, 6)          \
  X(ERROR_NOT_ENOUGH_MEMORY, 8)       \
  X(ERROR_GEN_FAILURE, 31)            \
  X(ERROR_INVALID_PARAMETER, 87)      \
  X(ERROR_MORE_DATA, 234)             \
  X(ERROR_NO_MORE_ITEMS, 259)

// X(name, bits): handle constants, as the integer of pointer width they hold.
// The predefined registry keys are 32-bit LONGs widened with their sign.
#define TARVESK_EXPECTED_HANDLE_CONSTANTS(X)               \
  X(INVALID_HANDLE_VALUE, static_cast<std::uintptr_t>(-1)) \
  X(HKEY_LOCAL_MACHINE,                                    \
    static_cast<std::uintptr_t>(static_cast<std::intptr_t>(-2147483646))) /* 0x80000002 */

// X(type, size in bytes, signed): the integer types.
#define TARVESK_EXPECTED_INTEGER_TYPES(X) \
  X(BOOL, 4, true)                        \
  X(BYTE, 1, false)                       \
  X(WORD, 2, false)                       \
  X(DWORD, 4, false)                      \
  X(LONG, 4, true)                        \
  X(UINT, 4, false)                       \
  X(WCHAR, 2, false)                      \
  X(REGSAM, 4, false)

// X(type, what it must be): pointer types and handles.
#define TARVESK_EXPECTED_POINTER_TYPES(X) \
  X(HANDLE, void *)                       \
  X(LPVOID, void *)                       \
  X(LPCVOID, const void *)                \
  X(LPDWORD, DWORD *)                     \
  X(LPBYTE, BYTE *)                       \
  X(LPWSTR, WCHAR *)                      \
  X(LPCWSTR, const WCHAR *)               \
  X(PHKEY, HKEY *)                        \
  X(LPDCB, DCB *)                         \
  X(LPCOMMTIMEOUTS, COMMTIMEOUTS *)       \
  X(LPCOMSTAT, COMSTAT *)

// X(type): handles whose pointee differs between the platforms; only
// their size is shared.
#define TARVESK_EXPECTED_OPAQUE_HANDLES(X) \
  X(HWND)                                  \
  X(HKEY)

// X(record, size in bytes)
#define TARVESK_EXPECTED_RECORD_SIZES(X) \
  X(DCB, 28)                             \
  X(COMMTIMEOUTS, 20)                    \
  X(COMSTAT, 12)                         \
  X(FILETIME, 8)

// X(record, field, byte offset)
#define TARVESK_EXPECTED_FIELD_OFFSETS(X)          \
  X(DCB, DCBlength, 0)                             \
  X(DCB, BaudRate, 4)                              \
  X(DCB, wReserved, 12)                            \
  X(DCB, XonLim, 14)                               \
  X(DCB, XoffLim, 16)                              \
  X(DCB, ByteSize, 18)                             \
  X(DCB, Parity, 19)                               \
  X(DCB, StopBits, 20)                             \
  X(DCB, XonChar, 21)                              \
  X(DCB, XoffChar, 22)                             \
  X(DCB, ErrorChar, 23)                            \
  X(DCB, EofChar, 24)                              \
  X(DCB, EvtChar, 25)                              \
  X(DCB, wReserved1, 26)                           \
  X(COMMTIMEOUTS, ReadIntervalTimeout, 0)          \
  X(COMMTIMEOUTS, ReadTotalTimeoutMultiplier, 4)   \
  X(COMMTIMEOUTS, ReadTotalTimeoutConstant, 8)     \
  X(COMMTIMEOUTS, WriteTotalTimeoutMultiplier, 12) \
  X(COMMTIMEOUTS, WriteTotalTimeoutConstant, 16)   \
  X(COMSTAT, cbInQue, 4)                           \
  X(COMSTAT, cbOutQue, 8)                          \
  X(FILETIME, dwLowDateTime, 0)                    \
  X(FILETIME, dwHighDateTime, 4)

// X(record, field, index of its 32-bit word, first bit, width in bits)
#define TARVESK_EXPECTED_BIT_FIELDS(X) \
  X(DCB, fBinary, 2, 0, 1)             \
  X(DCB, fParity, 2, 1, 1)             \
  X(DCB, fOutxCtsFlow, 2, 2, 1)        \
  X(DCB, fOutxDsrFlow, 2, 3, 1)        \
  X(DCB, fDtrControl, 2, 4, 2)         \
  X(DCB, fDsrSensitivity, 2, 6, 1)     \
  X(DCB, fTXContinueOnXoff, 2, 7, 1)   \
  X(DCB, fOutX, 2, 8, 1)               \
  X(DCB, fInX, 2, 9, 1)                \
  X(DCB, fErrorChar, 2, 10, 1)         \
  X(DCB, fNull, 2, 11, 1)              \
  X(DCB, fRtsControl, 2, 12, 2)        \
  X(DCB, fAbortOnError, 2, 14, 1)      \
  X(DCB, fDummy2, 2, 15, 17)           \
  X(COMSTAT, fCtsHold, 0, 0, 1)        \
  X(COMSTAT, fDsrHold, 0, 1, 1)        \
  X(COMSTAT, fRlsdHold, 0, 2, 1)       \
  X(COMSTAT, fXoffHold, 0, 3, 1)       \
  X(COMSTAT, fXoffSent, 0, 4, 1)       \
  X(COMSTAT, fEof, 0, 5, 1)            \
  X(COMSTAT, fTxim, 0, 6, 1)           \
  X(COMSTAT, fReserved, 0, 7, 25)

// X(function, result, calling convention, parameters). WINAPI is the
// system's convention (__stdcall on 32-bit Windows); the others are C's.
#define TARVESK_EXPECTED_FUNCTIONS(X)                                                   \
  X(CreateFileW, HANDLE, WINAPI,                                                        \
    (LPCWSTR, DWORD, DWORD, SECURITY_ATTRIBUTES *, DWORD, DWORD, HANDLE))               \
  X(CloseHandle, BOOL, WINAPI, (HANDLE))                                                \
  X(GetCommState, BOOL, WINAPI, (HANDLE, LPDCB))                                        \
  X(SetCommState, BOOL, WINAPI, (HANDLE, LPDCB))                                        \
  X(GetCommTimeouts, BOOL, WINAPI, (HANDLE, LPCOMMTIMEOUTS))                            \
  X(SetCommTimeouts, BOOL, WINAPI, (HANDLE, LPCOMMTIMEOUTS))                            \
  X(EscapeCommFunction, BOOL, WINAPI, (HANDLE, DWORD))                                  \
  X(ClearCommError, BOOL, WINAPI, (HANDLE, LPDWORD, LPCOMSTAT))                         \
  X(SetCommMask, BOOL, WINAPI, (HANDLE, DWORD))                                         \
  X(WaitCommEvent, BOOL, WINAPI, (HANDLE, LPDWORD, OVERLAPPED *))                       \
  X(PurgeComm, BOOL, WINAPI, (HANDLE, DWORD))                                           \
  X(ReadFile, BOOL, WINAPI, (HANDLE, LPVOID, DWORD, LPDWORD, OVERLAPPED *))             \
  X(WriteFile, BOOL, WINAPI, (HANDLE, LPCVOID, DWORD, LPDWORD, OVERLAPPED *))           \
  X(Sleep, void, WINAPI, (DWORD))                                                       \
  X(RegOpenKeyExW, LONG, WINAPI, (HKEY, LPCWSTR, DWORD, REGSAM, PHKEY))                 \
  X(RegEnumKeyExW, LONG, WINAPI,                                                        \
    (HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPWSTR, LPDWORD, FILETIME *))               \
  X(RegQueryValueExW, LONG, WINAPI, (HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD)) \
  X(RegCloseKey, LONG, WINAPI, (HKEY))                                                  \
  X(MessageBoxW, int, WINAPI, (HWND, LPCWSTR, LPCWSTR, UINT))                           \
  X(wsprintfW, int, , (LPWSTR, LPCWSTR, ...))                                           \
  X(wcslen, std::size_t, , (LPCWSTR))                                                   \
  X(wcsncmp, int, , (LPCWSTR, LPCWSTR, std::size_t))
