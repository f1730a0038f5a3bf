#include "serial/native_serial_port.h"

// A failed or timed-out write is not reported; a closed port makes
// WriteFile fail, so the handle is not tested first. Once the port is about
// to close, the byte is dropped as on a time-out.
void NativeSerialPort::writeByte(int value) {
  if (ioCancelled) {
    return;
  }
  const BYTE byte = static_cast<BYTE>(value & 0xFF);
  DWORD written = 0;
  WriteFile(handle, &byte, 1, &written, nullptr);
}

// The driver's count is the result whether or not WriteFile reports success:
// a write that times out succeeds with fewer bytes, one that fails part way
// (the device went away, or cancelIo ended it) has still sent what it counts.
int NativeSerialPort::writeBytes(const BYTE *bytes, int count) {
  if (handle == INVALID_HANDLE_VALUE) {
    return -1;
  }
  if (count <= 0 || ioCancelled) {
    return 0;  // nothing to send, or the port is about to close: the driver is not asked
  }
  DWORD written = 0;
  WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr);
  return static_cast<int>(written);
}
