#include "jvm_fixture.h"

#include <cstdlib>
#include <string>

namespace testjvm {

JNIEnv *env() {
  static JNIEnv *current = [] {
    std::string classPath = std::string("-Djava.class.path=") + TEST_PEERS_JAR;
    JavaVMOption options[2];
    options[0].optionString = const_cast<char *>(classPath.c_str());
    options[1].optionString = const_cast<char *>("-Xcheck:jni");
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = 2;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM *vm = nullptr;
    JNIEnv *created = nullptr;
    if (JNI_CreateJavaVM(&vm, reinterpret_cast<void **>(&created), &args) != JNI_OK) {
      std::abort();
    }
    return created;
  }();
  return current;
}

jobject newObject(const char *className) {
  JNIEnv *e = env();
  jclass cls = e->FindClass(className);
  if (cls == nullptr) {
    std::abort();
  }
  jmethodID constructor = e->GetMethodID(cls, "<init>", "()V");
  jobject object = e->NewObject(cls, constructor);
  e->DeleteLocalRef(cls);
  return object;
}

namespace {
jfieldID nativeHandleField(jobject object) {
  JNIEnv *e = env();
  jclass cls = e->GetObjectClass(object);
  jfieldID field = e->GetFieldID(cls, "nativeHandle", "J");
  e->DeleteLocalRef(cls);
  if (field == nullptr) {
    std::abort();
  }
  return field;
}
}  // namespace

jlong portAddressOf(jobject object) {
  return env()->GetLongField(object, nativeHandleField(object));
}

void setPortAddress(jobject object, jlong value) {
  env()->SetLongField(object, nativeHandleField(object), value);
}

std::string takeException() {
  JNIEnv *e = env();
  jthrowable thrown = e->ExceptionOccurred();
  if (thrown == nullptr) {
    return "";
  }
  e->ExceptionClear();
  jclass cls = e->GetObjectClass(thrown);
  jclass classClass = e->FindClass("java/lang/Class");
  jmethodID getName = e->GetMethodID(classClass, "getName", "()Ljava/lang/String;");
  auto name = static_cast<jstring>(e->CallObjectMethod(cls, getName));
  if (e->ExceptionCheck()) {
    std::abort();
  }
  const char *chars = e->GetStringUTFChars(name, nullptr);
  std::string result(chars);
  e->ReleaseStringUTFChars(name, chars);
  e->DeleteLocalRef(name);
  e->DeleteLocalRef(classClass);
  e->DeleteLocalRef(cls);
  e->DeleteLocalRef(thrown);
  return result;
}

}  // namespace testjvm
