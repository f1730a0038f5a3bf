#include "serial/native_serial_port.h"

// Changes the line params (speed and framing) only; flow control and the rest
// of the comm state made at open stay as the driver holds them.
bool NativeSerialPort::setLineParams(DWORD baudRate, BYTE byteSize, BYTE stopBits, BYTE parity) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  GetCommState(handle, &dcb);
  dcb.BaudRate = baudRate;
  dcb.ByteSize = byteSize;
  dcb.StopBits = stopBits;
  dcb.Parity = parity;
  return SetCommState(handle, &dcb) != FALSE;
}
