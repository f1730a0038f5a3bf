#pragma once

// One Java VM for the whole test process (a process can hold only one),
// created on first use, with the tests' peer classes (java/) on its class path.
#include <jni.h>

#include <string>

namespace testjvm {

JNIEnv *env();
jobject newObject(const char *className);  // a local reference
jlong portAddressOf(jobject object);       // the object's nativeHandle field
void setPortAddress(jobject object, jlong value);
// The class name of the pending exception, or "" when none; clears it.
std::string takeException();

// Frees every local reference a test makes when it goes out of scope.
class LocalFrame {
 public:
  LocalFrame() { env()->PushLocalFrame(64); }
  ~LocalFrame() { env()->PopLocalFrame(nullptr); }
  LocalFrame(const LocalFrame &) = delete;
  LocalFrame &operator=(const LocalFrame &) = delete;
};

}  // namespace testjvm
