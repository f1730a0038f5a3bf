#include <algorithm>
#include <new>

#include "bridge/port_binding.h"
#include "quorin_io_comm_CESerialPort.h"
#include "serial/native_serial_port.h"

namespace {

// Leaves a Java exception of the named class pending; when the class cannot
// be found, the VM's own error is pending instead.
void raise(JNIEnv *env, const char *className, const char *message) {
  jclass cls = env->FindClass(className);
  if (cls != nullptr) {
    env->ThrowNew(cls, message);
  }
}

// Checks the array and range before a byte moves, so that bytes are never
// read from the device only to be dropped for want of room, nor a frame sent
// in part. Raises the Java exception a bad argument deserves and returns
// false.
bool rangeFits(JNIEnv *env, jbyteArray b, jint off, jint len) {
  if (b == nullptr) {
    raise(env, "java/lang/NullPointerException", "byte array is null");
    return false;
  }
  const jsize length = env->GetArrayLength(b);
  if (off < 0 || len < 0 || off > length - len) {
    raise(env, "java/lang/ArrayIndexOutOfBoundsException", "offset or length outside the array");
    return false;
  }
  return true;
}

// The most one read takes from the driver. A driver's input queue holds a few
// KiB, so a larger array would only cost memory, not bring more bytes.
constexpr jint kLargestRead = 64 * 1024;

// Where bytes wait between a Java array and the driver: on the stack up to
// kOnStack bytes (a frame of a few KiB costs no allocation), on the heap
// beyond. When the heap cannot give what is wanted, the stack part is all
// there is, and size() says so.
class ScratchBuffer {
 public:
  explicit ScratchBuffer(jint wanted) {
    if (wanted > kOnStack) {
      heap = new (std::nothrow) BYTE[static_cast<std::size_t>(wanted)];
    }
    room = heap != nullptr ? wanted : std::min(wanted, kOnStack);
  }
  ~ScratchBuffer() { delete[] heap; }
  ScratchBuffer(const ScratchBuffer &) = delete;
  ScratchBuffer &operator=(const ScratchBuffer &) = delete;
  BYTE *get() { return heap != nullptr ? heap : onStack; }
  jint size() const { return room; }

 private:
  static constexpr jint kOnStack = 8 * 1024;
  BYTE *heap = nullptr;
  jint room = 0;
  BYTE onStack[kOnStack];
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
  if (!rangeFits(env, b, off, len)) {
    return -1;
  }
  // Want of memory shortens a read instead of failing it.
  ScratchBuffer scratch(std::min(len, kLargestRead));
  const int count = port->readBytes(scratch.get(), scratch.size());
  if (count > 0) {
    env->SetByteArrayRegion(b, off, count, reinterpret_cast<const jbyte *>(scratch.get()));
  }
  return count;
}

// As nativeRead, but the wait for the first byte ends after timeoutMs: 0
// when nothing came. The port is the one portAddress stands for: no look-up.
extern "C" JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeReadWithin(
    JNIEnv *env, jobject /*self*/, jlong portAddress, jbyteArray b, jint off, jint len,
    jint timeoutMs) {
  NativeSerialPort *port = portAt(portAddress);
  if (port == nullptr) {
    return -1;
  }
  if (!rangeFits(env, b, off, len)) {
    return -1;
  }
  if (timeoutMs < 0) {
    raise(env, "java/lang/IllegalArgumentException", "negative time-out");
    return -1;
  }
  ScratchBuffer scratch(std::min(len, kLargestRead));
  const int count =
      port->readBytesWithin(scratch.get(), scratch.size(), static_cast<DWORD>(timeoutMs));
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

// The frame is copied out of the array, never used in place: the write may
// wait for its whole time-out, and the VM must not be held up meanwhile.
extern "C" JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeWriteBytes(
    JNIEnv *env, jobject /*self*/, jlong portAddress, jbyteArray b, jint off, jint len) {
  NativeSerialPort *port = portAt(portAddress);
  if (port == nullptr) {
    return -1;
  }
  if (!rangeFits(env, b, off, len)) {
    return -1;
  }
  ScratchBuffer scratch(len);
  if (scratch.size() < len) {
    // Sending part of a frame would garble the protocol: nothing is sent.
    raise(env, "java/lang/OutOfMemoryError", "no memory to hold the bytes to write");
    return -1;
  }
  env->GetByteArrayRegion(b, off, len, reinterpret_cast<jbyte *>(scratch.get()));
  return port->writeBytes(scratch.get(), len);
}

extern "C" JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeAvailable(JNIEnv *env,
                                                                                   jobject self) {
  NativeSerialPort *port = lookupPort(env, self);
  if (port == nullptr) {
    return 0;
  }
  return port->bytesAvailable();
}
