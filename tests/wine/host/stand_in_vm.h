#pragma once

// A Java VM for tarvesk.dll under Wine, where no Windows JDK can be had. Its
// JNIEnv implements just the JNI functions the library calls, on the few kinds
// of object it meets, and checks their use as -Xcheck:jni does: no call with
// an exception pending (but those JNI allows), at most 16 live local
// references in a native call, every GetStringChars released, no deleted or
// expired reference used. Every other function of the table, and every
// misuse, ends the run with a line that names it. Each thread that calls
// natives has a VM of its own, as each Java thread has its own JNIEnv; objects
// made by one may be handed to another.
#include <jni.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace standin {

struct Object {
  enum class Kind { Class, String, ByteArray, Vector, Port, Throwable };
  Kind kind;
  std::string className;           // of a Throwable; the class a Class stands for
  std::u16string text;             // a String's characters, a Throwable's message
  std::vector<jbyte> bytes;        // byte[]
  std::vector<Object *> elements;  // java.util.Vector
  jlong nativeHandle = 0;          // quorin.io.comm.CESerialPort
};

class Vm {
 public:
  Vm();
  Vm(const Vm &) = delete;
  Vm &operator=(const Vm &) = delete;

  Object *make(Object::Kind kind);
  Object *newString(const std::u16string &text);
  Object *classNamed(const std::string &name);

  // A native call, as the VM makes it: enter opens a frame of local
  // references, ref hands an argument over, returnedVector resolves the
  // result of a native that returns one, leave checks what the native left
  // behind and ends the frame. An exception left pending must be taken
  // before the next native call.
  JNIEnv *enter(const char *nativeName);
  jobject ref(Object *object);
  Object *returnedVector(jobject result);
  void leave();

  // The exception the last native call left pending, now cleared; nullptr
  // when there was none.
  Object *takeException();
  // From this many elements on, Vector.addElement throws OutOfMemoryError.
  std::size_t addElementFailsFrom = static_cast<std::size_t>(-1);

  // Ends the run: the stand-in cannot go on.
  [[noreturn]] static void fail(const std::string &what);

  // What the JNI functions (stand_in_vm.cpp) build on. Each begins with
  // of(), which checks the call may be made now and names the function in
  // the messages of what follows.
  static Vm &of(JNIEnv *env, const char *function, bool allowedWithExceptionPending = false);
  [[noreturn]] void misuse(const std::string &what) const;
  // The object a reference stands for, of the kind the function needs.
  Object *deref(jobject ref, Object::Kind kind, bool nullAllowed = false);
  jobject newRef(Object *object);
  void deleteRef(jobject ref);
  void raise(const std::string &className, const std::string &message);

  Object *pending = nullptr;
  std::map<const jchar *, Object *> stringChars;  // handed out, not released yet

 private:
  struct Ref {
    Object *target;
    int frame;
    bool live;
  };
  struct Env : JNIEnv_ {
    Vm *vm;
  };

  Ref &liveRef(jobject handle);

  Env env;
  JNINativeInterface_ table;
  std::deque<Object> objects;
  std::deque<Ref> refs;
  std::map<std::string, Object *> classes;
  const char *nativeName = nullptr;
  const char *function = nullptr;  // the JNI function being called
  int frame = 0;
  int liveLocals = 0;
};

}  // namespace standin
