#include <cstdint>
#include <new>

#include "bridge/port_binding.h"
#include "common/show_error.h"
#include "quorin_io_comm_CESerialPort.h"
#include "serial/native_serial_port.h"

namespace {

// The characters of a Java string with the zero unit that JNI does not
// promise; released on every path out of nativeOpen. A string with a zero
// unit of its own gives no name: the device would be the one named by the
// part before it, not the string asked for.
class DeviceName {
 public:
  DeviceName(JNIEnv *env, jstring name) : env(env), name(name) {
    if (name == nullptr) {
      return;
    }
    chars = env->GetStringChars(name, nullptr);
    if (chars == nullptr) {
      return;
    }
    const jsize length = env->GetStringLength(name);
    units = new (std::nothrow) WCHAR[static_cast<std::size_t>(length) + 1];
    if (units == nullptr) {
      return;
    }
    for (jsize i = 0; i < length; ++i) {
      if (chars[i] == 0) {
        delete[] units;
        units = nullptr;
        holdsZero = true;
        return;
      }
      units[i] = static_cast<WCHAR>(chars[i]);
    }
    units[length] = 0;
  }
  ~DeviceName() {
    delete[] units;
    if (chars != nullptr) {
      env->ReleaseStringChars(name, chars);
    }
  }
  DeviceName(const DeviceName &) = delete;
  DeviceName &operator=(const DeviceName &) = delete;

  LPCWSTR get() const { return units; }
  bool holdsZeroUnit() const { return holdsZero; }

 private:
  JNIEnv *env;
  jstring name;
  const jchar *chars = nullptr;
  WCHAR *units = nullptr;
  bool holdsZero = false;
};

}  // namespace

extern "C" JNIEXPORT void JNICALL Java_quorin_io_comm_CESerialPort_nativeOpen(JNIEnv *env,
                                                                              jobject self,
                                                                              jstring portName) {
  // The field is written, never read: CESerialPort closes a port it still
  // holds before it opens another.
  NativeSerialPort *port = nullptr;
  {
    DeviceName name(env, portName);
    if (name.holdsZeroUnit()) {
      showError(TEXT("Unable to open the port"), TEXT("Error"));  // no device has that name
      return;
    }
    if (name.get() == nullptr) {
      return;  // no name, or its characters could not be had: nothing opened
    }
    port = new (std::nothrow) NativeSerialPort(name.get());
  }
  if (port == nullptr) {
    return;
  }
  if (!port->isOpen()) {
    delete port;
    return;
  }
  // A port nobody can find again would keep the device locked until the VM
  // exits, so one whose address cannot be stored is closed at once.
  if (!storePort(env, self, static_cast<jlong>(reinterpret_cast<std::intptr_t>(port)))) {
    delete port;
  }
}

extern "C" JNIEXPORT jboolean JNICALL Java_quorin_io_comm_CESerialPort_nativeClose(JNIEnv *env,
                                                                                   jobject self) {
  NativeSerialPort *port = lookupPort(env, self);
  if (port == nullptr) {
    return JNI_FALSE;
  }
  if (!port->closePort()) {
    return JNI_FALSE;  // still open and still bound
  }
  storePort(env, self, kClosed);
  delete port;
  return JNI_TRUE;
}

extern "C" JNIEXPORT void JNICALL Java_quorin_io_comm_CESerialPort_nativeCancelIo(JNIEnv *env,
                                                                                  jobject self) {
  NativeSerialPort *port = lookupPort(env, self);
  if (port != nullptr) {
    port->cancelIo();
  }
}
