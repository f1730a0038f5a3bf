#include <new>

#include "bridge/port_binding.h"
#include "bridge/serial_port_natives.h"
#include "serial/native_serial_port.h"

namespace {

// Checks the destination before a byte is consumed, so that bytes never get
// read from the device only to be dropped for want of room. Raises the Java
// exception a bad argument deserves and returns false.
bool destinationFits(JNIEnv *env, jbyteArray b, jint off, jint len) {
  if (b == nullptr) {
    jclass npe = env->FindClass("java/lang/NullPointerException");
    if (npe != nullptr) {
      env->ThrowNew(npe, "byte array is null");
    }
    return false;
  }
  const jsize length = env->GetArrayLength(b);
  if (off < 0 || len < 0 || off > length - len) {
    jclass aioobe = env->FindClass("java/lang/ArrayIndexOutOfBoundsException");
    if (aioobe != nullptr) {
      env->ThrowNew(aioobe, "offset or length outside the array");
    }
    return false;
  }
  return true;
}

class ScratchBuffer {
 public:
  explicit ScratchBuffer(jint size)
      : bytes(new (std::nothrow) BYTE[static_cast<std::size_t>(size)]) {}
  ~ScratchBuffer() { delete[] bytes; }
  ScratchBuffer(const ScratchBuffer &) = delete;
  ScratchBuffer &operator=(const ScratchBuffer &) = delete;
  BYTE *get() const { return bytes; }

 private:
  BYTE *bytes;
};

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeRead(JNIEnv *env,
                                                                              jobject self,
                                                                              jbyteArray b,
                                                                              jint off, jint len) {
  NativeSerialPort *port = lookupPort(env, self);
  if (port == nullptr) {
    return -1;
  }
  if (!destinationFits(env, b, off, len)) {
    return -1;
  }
  ScratchBuffer scratch(len);
  if (scratch.get() == nullptr) {
    return -1;
  }
  const int count = port->readBytes(scratch.get(), len);
  if (count > 0) {
    env->SetByteArrayRegion(b, off, count, reinterpret_cast<const jbyte *>(scratch.get()));
  }
  return count;
}

extern "C" JNIEXPORT void JNICALL Java_quorin_io_comm_CESerialPort_nativeWrite(JNIEnv *env,
                                                                               jobject self,
                                                                               jint value) {
  NativeSerialPort *port = lookupPort(env, self);
  if (port != nullptr) {
    port->writeByte(value);
  }
}

extern "C" JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeAvailable(JNIEnv *env,
                                                                                   jobject self) {
  NativeSerialPort *port = lookupPort(env, self);
  if (port == nullptr) {
    return 0;
  }
  return port->bytesAvailable();
}
