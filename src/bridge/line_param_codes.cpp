#include "bridge/line_param_codes.h"

bool dataBitsCode(int javaDataBits, BYTE &byteSize) {
  if (javaDataBits < 5 || javaDataBits > 8) {
    return false;
  }
  byteSize = static_cast<BYTE>(javaDataBits);
  return true;
}

bool stopBitsCode(int javaStopBits, BYTE &stopBits) {
  switch (javaStopBits) {
    case 1:
      stopBits = ONESTOPBIT;
      return true;
    case 2:
      stopBits = TWOSTOPBITS;
      return true;
    case 3:
      stopBits = ONE5STOPBITS;
      return true;
    default:
      return false;
  }
}

bool parityCode(int javaParity, BYTE &parity) {
  switch (javaParity) {
    case 0:
      parity = NOPARITY;
      return true;
    case 1:
      parity = ODDPARITY;
      return true;
    case 2:
      parity = EVENPARITY;
      return true;
    case 3:
      parity = MARKPARITY;
      return true;
    case 4:
      parity = SPACEPARITY;
      return true;
    default:
      return false;
  }
}
