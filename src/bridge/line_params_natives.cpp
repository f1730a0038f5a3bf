#include "bridge/line_param_codes.h"
#include "bridge/port_binding.h"
#include "common/show_error.h"
#include "quorin_io_comm_CESerialPort.h"
#include "serial/native_serial_port.h"

// The arguments are checked, and a bad one reported, even when no port is
// bound; only the first bad argument is reported. The baud rate is the
// driver's to judge, a negative one too: it reaches the driver as the
// unsigned rate of the same bits.
extern "C" JNIEXPORT jboolean JNICALL Java_quorin_io_comm_CESerialPort_nativeSetSerialPortParams(
    JNIEnv *env, jobject self, jint baudRate, jint dataBits, jint stopBits, jint parity) {
  NativeSerialPort *port = lookupPort(env, self);
  BYTE byteSize = 0;
  if (!dataBitsCode(dataBits, byteSize)) {
    showError(TEXT("Invalid number of data bits"), TEXT("Error"));
    return JNI_FALSE;
  }
  BYTE stopBitsValue = 0;
  if (!stopBitsCode(stopBits, stopBitsValue)) {
    showError(TEXT("Invalid number of stop bits"), TEXT("Error"));
    return JNI_FALSE;
  }
  BYTE parityValue = 0;
  if (!parityCode(parity, parityValue)) {
    showError(TEXT("Invalid Parity"), TEXT("Error"));
    return JNI_FALSE;
  }
  if (port == nullptr) {
    return JNI_FALSE;
  }
  return port->setLineParams(static_cast<DWORD>(baudRate), byteSize, stopBitsValue, parityValue)
             ? JNI_TRUE
             : JNI_FALSE;
}
