#include "serial/native_serial_port.h"

// A failed or timed-out write is not reported; a closed port makes
// WriteFile fail, so the handle is not tested first.
void NativeSerialPort::writeByte(int value) {
  const BYTE byte = static_cast<BYTE>(value & 0xFF);
  DWORD written = 0;
  WriteFile(handle, &byte, 1, &written, nullptr);
}
