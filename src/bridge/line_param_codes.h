#pragma once

#include "platform/platform.h"

// Java-side codes of CESerialPort.nativeSetSerialPortParams translated into
// the platform's DCB codes. Each returns false for a value it does not know.
bool dataBitsCode(int javaDataBits, BYTE &byteSize);
// Java 1, 2, 3 (one, two, one and a half) are DCB 0, 2, 1.
bool stopBitsCode(int javaStopBits, BYTE &stopBits);
// None, odd, even, mark, space: the two sides use the same numbers.
bool parityCode(int javaParity, BYTE &parity);
