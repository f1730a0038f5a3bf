#pragma once

// What the serial-device functions of the Linux layer share: the record a
// HANDLE points to, and the DCB <-> termios mapping. termios2 comes from the
// kernel's own header so that any rate the driver takes can be asked for
// (BOTHER); <termios.h> must not be included beside it.
#include <asm/termbits.h>

#include <atomic>
#include <optional>

#include "platform/platform.h"

namespace tarvesk_posix {

// One open serial device. Owned by the handle: CreateFileW makes it,
// CloseHandle frees it.
struct PortRecord {
  int fd = -1;
  bool isPseudoTerminal = false;  // Unix98 pty slave: no line, no modem lines, no framing
  // Set by whichever call first sees the device gone (read() returning 0 or
  // EIO, poll() saying readable with nothing to read). Read by other threads
  // while one waits for input, hence atomic.
  std::atomic<bool> hungUp{false};
  // Bytes that ReadFile has taken, on any thread: a wait that finds the
  // device readable but empty tells by it whether another reader of this
  // handle took the input, or nobody did (the device is gone).
  std::atomic<unsigned long long> bytesTaken{0};
  DCB dcb{};                // the settings last accepted, as GetCommState reports them
  COMMTIMEOUTS timeouts{};  // Win32's initial time-outs are all 0 as well
  DWORD eventMask = 0;      // set by SetCommMask
};

// The record behind a handle, or nullptr for null and INVALID_HANDLE_VALUE.
PortRecord *recordOf(HANDLE handle);

// The device's termios, read and set through termios2, or through the classic
// request where the kernel lacks termios2: then only the standard rates can be
// set and any other fails with EINVAL, changing nothing.
bool readTermios(int fd, termios2 &settings);
bool writeTermios(int fd, const termios2 &settings);

// The rate a standard speed code stands for (B9600: 9600); 0 for B0, BOTHER
// and anything else.
speed_t standardRate(tcflag_t code);

// current in raw mode: bytes pass unchanged both ways, no echo, no signals,
// modem status lines ignored, receiver on. Speed, framing and hardware flow
// control stay as they are.
termios2 rawTermios(const termios2 &current);

// The termios that carries dcb, built on current (which keeps every bit the
// DCB does not speak about). Empty when Linux cannot honour some value of
// the DCB exactly.
std::optional<termios2> termiosForDcb(const DCB &dcb, const termios2 &current);

// The DCB that describes a device in this termios state. dtrOn/rtsOn are the
// modem lines as TIOCMGET reports them (both true for devices without lines).
DCB dcbForTermios(const termios2 &settings, bool dtrOn, bool rtsOn);

// True when the kernel holds every value of wanted that the DCB mapping sets.
bool holdsLineSetting(const termios2 &held, const termios2 &wanted);

// True when held and wanted differ in character size and parity only: what a
// pseudo-terminal forces, having no line to frame characters on.
bool differsOnlyInFraming(const termios2 &held, const termios2 &wanted);

// wanted with 8 data bits and no parity: what a pseudo-terminal can hold.
termios2 withPseudoTerminalFraming(const termios2 &wanted);

// Modem lines. False with errno ENOTTY or EINVAL when the device has none.
bool readModemLines(int fd, int &lines);
bool changeModemLine(int fd, int line, bool on);

// The bytes waiting to be read; false once the device has hung up (peer of a
// pseudo-terminal closed, USB adapter removed) and no input is left to read,
// and always once the record is marked. Marks the record.
bool queuedInput(PortRecord &port, int &queued);

}  // namespace tarvesk_posix
