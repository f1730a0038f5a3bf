#pragma once

#include <jni.h>

class NativeSerialPort;

// The Java field nativeHandle holds a port address: 0 (never opened), the
// address of the object's NativeSerialPort (open) or -1 (closed). Class and
// field are looked up on every call: the library caches nothing between calls.
constexpr jlong kNeverOpened = 0;
constexpr jlong kClosed = -1;

// The port bound to the Java object, or nullptr when there is none or the
// field cannot be found (the VM's error is then pending).
NativeSerialPort *lookupPort(JNIEnv *env, jobject self);

// The port portAddress stands for, or nullptr for none. For the natives that
// are handed it, read by the Java object while no open or close can change
// it: they need no look-up.
NativeSerialPort *portAt(jlong portAddress);

// Stores portAddress into nativeHandle; false when the field cannot be found.
bool storePort(JNIEnv *env, jobject self, jlong portAddress);
