#include "serial/native_serial_port.h"

#include "common/show_error.h"

NativeSerialPort::NativeSerialPort(LPCWSTR deviceName) : handle(INVALID_HANDLE_VALUE) {
  openPort(deviceName);
}

NativeSerialPort::~NativeSerialPort() { closePort(); }

bool NativeSerialPort::isOpen() const { return handle != INVALID_HANDLE_VALUE; }

void NativeSerialPort::openPort(LPCWSTR deviceName) {
  handle =
      CreateFileW(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    showError(TEXT("Unable to open the port"), TEXT("Error"));
    return;
  }

  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  GetCommState(handle, &dcb);  // unset fields keep whatever the driver reports
  setDefaultCommState(dcb);
  if (!SetCommState(handle, &dcb)) {
    // The device stays open with the driver's own settings.
    showError(TEXT("Unable to configure the serial port"), TEXT("Error"));
    return;
  }

  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(handle, &timeouts);
  setDefaultTimeouts(timeouts);
  if (!SetCommTimeouts(handle, &timeouts)) {
    showError(TEXT("Unable to set the time-out parameters"), TEXT("Error"));
    return;
  }

  // Devices without modem lines refuse these; that is no reason to fail.
  EscapeCommFunction(handle, SETDTR);
  EscapeCommFunction(handle, SETRTS);
}

void NativeSerialPort::setDefaultCommState(DCB &dcb) {
  dcb.BaudRate = 9600;
  dcb.fBinary = 1;
  dcb.fParity = 1;  // parity checking stays armed for when parity is switched on
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
}

void NativeSerialPort::setDefaultTimeouts(COMMTIMEOUTS &timeouts) {
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 10;
  timeouts.WriteTotalTimeoutConstant = 1000;
}

bool NativeSerialPort::closePort() {
  if (handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  if (!CloseHandle(handle)) {
    ioCancelled = false;
    return false;  // still open: reads and writes work again
  }
  handle = INVALID_HANDLE_VALUE;
  return true;
}

void NativeSerialPort::cancelIo() {
  if (handle == INVALID_HANDLE_VALUE) {
    return;
  }
  // The flag first. A reader sets its mask, then looks at the flag: one that
  // found it clear set its mask before the change below, which therefore ends
  // its wait, or leaves a wait begun after it nothing to wait for. The purge
  // ends the transfers in progress; a write that looked at the flag just
  // before it was set may start after the purge, so the caller repeats this
  // while calls remain.
  ioCancelled = true;
  SetCommMask(handle, 0);
  PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT);
}
