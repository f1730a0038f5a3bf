#include <algorithm>
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

// The most one read takes from the driver. A driver's input queue holds a few
// KiB, so a larger array would only cost memory, not bring more bytes.
constexpr jint kLargestRead = 64 * 1024;

// Where a read puts its bytes before they go into the Java array: room for
// len bytes, but no more than kLargestRead; when that much memory cannot be
// had, the small reserve, so that want of memory shortens a read instead of
// failing it.
class ScratchBuffer {
 public:
  explicit ScratchBuffer(jint len) {
    const jint wanted = std::min(len, kLargestRead);
    if (wanted > kReserve) {
      heap = new (std::nothrow) BYTE[static_cast<std::size_t>(wanted)];
    }
    room = heap != nullptr ? wanted : std::min(len, kReserve);
  }
  ~ScratchBuffer() { delete[] heap; }
  ScratchBuffer(const ScratchBuffer &) = delete;
  ScratchBuffer &operator=(const ScratchBuffer &) = delete;
  BYTE *get() { return heap != nullptr ? heap : reserve; }
  jint size() const { return room; }

 private:
  static constexpr jint kReserve = 256;
  BYTE *heap = nullptr;
  jint room = 0;
  BYTE reserve[kReserve];
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
  const int count = port->readBytes(scratch.get(), scratch.size());
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
