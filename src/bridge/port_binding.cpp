#include "bridge/port_binding.h"

#include <cstdint>

namespace {

jfieldID nativeHandleField(JNIEnv *env, jobject self) {
  jclass cls = env->GetObjectClass(self);
  jfieldID field = env->GetFieldID(cls, "nativeHandle", "J");
  env->DeleteLocalRef(cls);
  return field;
}

}  // namespace

NativeSerialPort *lookupPort(JNIEnv *env, jobject self) {
  jfieldID field = nativeHandleField(env, self);
  if (field == nullptr) {
    return nullptr;
  }
  return portAt(env->GetLongField(self, field));
}

NativeSerialPort *portAt(jlong portAddress) {
  if (portAddress == kNeverOpened || portAddress == kClosed) {
    return nullptr;
  }
  // On a 32-bit platform the address is the low half of the stored value.
  return reinterpret_cast<NativeSerialPort *>(static_cast<std::intptr_t>(portAddress));
}

bool storePort(JNIEnv *env, jobject self, jlong portAddress) {
  jfieldID field = nativeHandleField(env, self);
  if (field == nullptr) {
    return false;
  }
  env->SetLongField(self, field, portAddress);
  return true;
}
