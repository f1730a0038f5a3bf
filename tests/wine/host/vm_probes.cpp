#include "vm_probes.h"

namespace standin {

void runProbe(Vm &vm, const std::string &name) {
  JNIEnv *env = vm.enter("probe");
  if (name == "exception_pending") {
    env->ThrowNew(env->FindClass("java/lang/NullPointerException"), "probe");
    env->FindClass("java/util/Vector");
  } else if (name == "local_references") {
    for (int i = 0; i < 17; ++i) {
      env->FindClass("java/util/Vector");
    }
  } else if (name == "unreleased_chars") {
    env->GetStringChars(static_cast<jstring>(vm.ref(vm.newString(u"COM1:"))), nullptr);
    vm.leave();
  } else if (name == "deleted_reference") {
    jclass vector = env->FindClass("java/util/Vector");
    env->DeleteLocalRef(vector);
    env->GetMethodID(vector, "<init>", "()V");
  } else if (name == "expired_reference") {
    jclass vector = env->FindClass("java/util/Vector");
    vm.leave();
    env = vm.enter("probe");
    env->GetMethodID(vector, "<init>", "()V");
  } else if (name == "unimplemented_function") {
    env->GetVersion();
  }
}

}  // namespace standin
