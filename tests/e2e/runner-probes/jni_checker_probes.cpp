// Native methods that misuse JNI on purpose, one kind each, so that the test
// suite can prove the end-to-end runner notices every kind of finding the
// -Xcheck:jni checker prints. Not part of the library.
#include <jni.h>
#include <signal.h>

extern "C" {

// A Java call that may have thrown, then another JNI call without asking.
JNIEXPORT void JNICALL Java_checkerprobe_CheckerProbes_exceptionLeftUnchecked(JNIEnv *env,
                                                                              jclass self) {
  jmethodID yield = env->GetStaticMethodID(self, "quietly", "()V");
  env->CallStaticVoidMethod(self, yield);
  jclass again = env->GetObjectClass(self);
  env->DeleteLocalRef(again);
}

// More local references than the 16 a native method may hold unannounced.
JNIEXPORT void JNICALL Java_checkerprobe_CheckerProbes_tooManyLocalReferences(JNIEnv *env, jclass) {
  for (int i = 0; i < 40; ++i) {
    env->NewStringUTF("probe");
  }
}

// A JNI call between GetPrimitiveArrayCritical and its release.
JNIEXPORT jint JNICALL Java_checkerprobe_CheckerProbes_callInsideCriticalRegion(JNIEnv *env, jclass,
                                                                                jbyteArray array) {
  void *bytes = env->GetPrimitiveArrayCritical(array, nullptr);
  const jint length = env->GetArrayLength(array);
  env->ReleasePrimitiveArrayCritical(array, bytes, JNI_ABORT);
  return length;
}

// Takes over a signal the VM handles (SIGPIPE, which it ignores in a handler of its own), as a
// library must never do.
JNIEXPORT void JNICALL Java_checkerprobe_CheckerProbes_replaceSignalHandler(JNIEnv *, jclass) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
}
}
