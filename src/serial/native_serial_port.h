#pragma once

#include <atomic>

#include "platform/platform.h"

// One open serial device. Construction opens it by name with the library's
// fixed defaults; the driver, not this object, holds its comm state.
// The Java object that owns it keeps its address, so it is never copied or
// moved.
class NativeSerialPort {
 public:
  explicit NativeSerialPort(LPCWSTR deviceName);
  ~NativeSerialPort();
  NativeSerialPort(const NativeSerialPort &) = delete;
  NativeSerialPort &operator=(const NativeSerialPort &) = delete;

  bool isOpen() const;
  // A port that will not close stays open, and reads work again.
  bool closePort();
  // The port is about to be closed: ends a read that waits for input and a
  // write that waits for room, and makes every later read return -1 and
  // every later write send nothing. Meant to be called while other threads
  // read and write; the close that follows puts an end to it.
  void cancelIo();

  // Waits without a time limit until a byte is queued, then reads at most
  // count of the bytes buffered. Returns their number (0 only for a count
  // of 0), or -1.
  int readBytes(BYTE *buffer, int count);
  // Waits at most timeoutMs (0: not at all; at most MAXDWORD - 1) for a byte,
  // then reads at most count of the bytes buffered. Returns their number, 0
  // when none came in time or count is 0, or -1 when the port is closed, the
  // read is cancelled or the driver fails. Not meant to run beside another
  // read: the driver's read time-outs are changed for its one ReadFile.
  int readBytesWithin(BYTE *buffer, int count, DWORD timeoutMs);
  // The next byte (0..255); -1 when the wait or read found nothing, -3 when
  // the read failed, -4 when the port is closed.
  int readByte();
  void writeByte(int value);
  // Hands the count bytes to one WriteFile, which gives up after the write
  // time-out (10 ms a byte plus 1 s). Returns how many were sent (fewer when
  // the time-out passed or the device went away), or -1 when the port is
  // closed.
  int writeBytes(const BYTE *bytes, int count);
  int bytesAvailable();
  bool setLineParams(DWORD baudRate, BYTE byteSize, BYTE stopBits, BYTE parity);

  // What opening makes of the comm state the driver reports: 9600 8N1, no
  // flow control, DTR and RTS on; the DCB's other fields are kept.
  static void setDefaultCommState(DCB &dcb);
  // Reads return at once with what is buffered (waitForInput does the
  // blocking); a write of n bytes gives up after 10 n + 1000 ms. All five are
  // replaced.
  static void setDefaultTimeouts(COMMTIMEOUTS &timeouts);

 private:
  void openPort(LPCWSTR deviceName);
  bool waitForInput(DWORD pauseFirst);

  HANDLE handle;
  std::atomic<bool> ioCancelled{false};
};
