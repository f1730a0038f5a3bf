#include "stand_in_vm.h"

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "jni_function_names.h"  // kJniFunctionNames, made from jni.h by the build

namespace standin {

namespace {

using Kind = Object::Kind;

// The local references a native may hold without asking for more capacity.
constexpr int kLocalCapacity = 16;

constexpr std::size_t kTableSlots = sizeof(JNINativeInterface_) / sizeof(void *);
static_assert(std::size(kJniFunctionNames) == kTableSlots, "one name for every slot of jni.h");

const char *const kKindNames[] = {
    "a class", "a string", "a byte array", "a java.util.Vector", "a CESerialPort", "a throwable"};

const char kPortClass[] = "quorin/io/comm/CESerialPort";
const char kVectorClass[] = "java/util/Vector";
const char *const kKnownClasses[] = {kPortClass, kVectorClass, "java/lang/NullPointerException",
                                     "java/lang/ArrayIndexOutOfBoundsException",
                                     "java/lang/OutOfMemoryError"};

// Identities handed out as jfieldID and jmethodID.
char nativeHandleField, vectorConstructor, vectorAddElement;

template <std::size_t Slot>
void JNICALL unimplemented() {
  Vm::fail(std::string("JNI function ") + kJniFunctionNames[Slot] + " is not implemented");
}

template <std::size_t... Slots>
void fillWithTraps(JNINativeInterface_ &table, std::index_sequence<Slots...>) {
  void *const traps[] = {reinterpret_cast<void *>(&unimplemented<Slots>)...};
  std::memcpy(&table, traps, sizeof traps);
}

bool same(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

jclass JNICALL FindClass(JNIEnv *env, const char *name) {
  Vm &vm = Vm::of(env, "FindClass");
  for (const char *known : kKnownClasses) {
    if (same(name, known)) {
      return static_cast<jclass>(vm.newRef(vm.classNamed(name)));
    }
  }
  vm.raise("java/lang/NoClassDefFoundError", name);
  return nullptr;
}

// The library asks only a CESerialPort for its class.
jclass JNICALL GetObjectClass(JNIEnv *env, jobject obj) {
  Vm &vm = Vm::of(env, "GetObjectClass");
  vm.deref(obj, Kind::Port);
  return static_cast<jclass>(vm.newRef(vm.classNamed(kPortClass)));
}

jfieldID JNICALL GetFieldID(JNIEnv *env, jclass clazz, const char *name, const char *sig) {
  Vm &vm = Vm::of(env, "GetFieldID");
  if (vm.deref(clazz, Kind::Class)->className == kPortClass && same(name, "nativeHandle") &&
      same(sig, "J")) {
    return reinterpret_cast<jfieldID>(&nativeHandleField);
  }
  vm.raise("java/lang/NoSuchFieldError", name);
  return nullptr;
}

Object *portField(Vm &vm, jobject obj, jfieldID field) {
  Object *port = vm.deref(obj, Kind::Port);
  if (field != reinterpret_cast<jfieldID>(&nativeHandleField)) {
    vm.misuse("a field ID GetFieldID did not return");
  }
  return port;
}

jlong JNICALL GetLongField(JNIEnv *env, jobject obj, jfieldID field) {
  return portField(Vm::of(env, "GetLongField"), obj, field)->nativeHandle;
}

void JNICALL SetLongField(JNIEnv *env, jobject obj, jfieldID field, jlong value) {
  portField(Vm::of(env, "SetLongField"), obj, field)->nativeHandle = value;
}

jmethodID JNICALL GetMethodID(JNIEnv *env, jclass clazz, const char *name, const char *sig) {
  Vm &vm = Vm::of(env, "GetMethodID");
  if (vm.deref(clazz, Kind::Class)->className == kVectorClass) {
    if (same(name, "<init>") && same(sig, "()V")) {
      return reinterpret_cast<jmethodID>(&vectorConstructor);
    }
    if (same(name, "addElement") && same(sig, "(Ljava/lang/Object;)V")) {
      return reinterpret_cast<jmethodID>(&vectorAddElement);
    }
  }
  vm.raise("java/lang/NoSuchMethodError", name);
  return nullptr;
}

jobject JNICALL NewObjectV(JNIEnv *env, jclass clazz, jmethodID method, va_list) {
  Vm &vm = Vm::of(env, "NewObjectV");
  if (vm.deref(clazz, Kind::Class)->className != kVectorClass ||
      method != reinterpret_cast<jmethodID>(&vectorConstructor)) {
    vm.misuse("a constructor the class does not have");
  }
  return vm.newRef(vm.make(Kind::Vector));
}

void JNICALL CallVoidMethodV(JNIEnv *env, jobject obj, jmethodID method, va_list args) {
  Vm &vm = Vm::of(env, "CallVoidMethodV");
  Object *vector = vm.deref(obj, Kind::Vector);
  if (method != reinterpret_cast<jmethodID>(&vectorAddElement)) {
    vm.misuse("a method java.util.Vector does not have");
  }
  Object *element = vm.deref(va_arg(args, jobject), Kind::String, true);
  if (vector->elements.size() >= vm.addElementFailsFrom) {
    vm.raise("java/lang/OutOfMemoryError", "Java heap space");
    return;
  }
  vector->elements.push_back(element);
}

jstring JNICALL NewString(JNIEnv *env, const jchar *unicode, jsize length) {
  Vm &vm = Vm::of(env, "NewString");
  if (length < 0 || (unicode == nullptr && length > 0)) {
    vm.misuse("no characters, or a negative length");
  }
  const auto *units = reinterpret_cast<const char16_t *>(unicode);
  return static_cast<jstring>(vm.newRef(vm.newString(std::u16string(units, units + length))));
}

jsize JNICALL GetStringLength(JNIEnv *env, jstring str) {
  Vm &vm = Vm::of(env, "GetStringLength");
  return static_cast<jsize>(vm.deref(str, Kind::String)->text.size());
}

const jchar *JNICALL GetStringChars(JNIEnv *env, jstring str, jboolean *isCopy) {
  Vm &vm = Vm::of(env, "GetStringChars");
  Object *string = vm.deref(str, Kind::String);
  // A copy followed by no terminator, as a VM is free to hand out.
  auto *chars = new jchar[string->text.size() + 1];
  std::memcpy(chars, string->text.data(), string->text.size() * sizeof(jchar));
  chars[string->text.size()] = u'#';
  if (isCopy != nullptr) {
    *isCopy = JNI_TRUE;
  }
  vm.stringChars[chars] = string;
  return chars;
}

void JNICALL ReleaseStringChars(JNIEnv *env, jstring str, const jchar *chars) {
  Vm &vm = Vm::of(env, "ReleaseStringChars", true);
  Object *string = vm.deref(str, Kind::String);
  auto out = vm.stringChars.find(chars);
  if (out == vm.stringChars.end() || out->second != string) {
    vm.misuse("characters GetStringChars did not hand out for this string");
  }
  vm.stringChars.erase(out);
  delete[] chars;
}

jsize JNICALL GetArrayLength(JNIEnv *env, jarray array) {
  Vm &vm = Vm::of(env, "GetArrayLength");
  return static_cast<jsize>(vm.deref(array, Kind::ByteArray)->bytes.size());
}

// The bytes of a region of a byte[], or nullptr (with the exception raised)
// when the region is not inside it.
jbyte *byteRegion(Vm &vm, jbyteArray array, jsize start, jsize length) {
  std::vector<jbyte> &bytes = vm.deref(array, Kind::ByteArray)->bytes;
  const jsize size = static_cast<jsize>(bytes.size());
  if (start < 0 || length < 0 || start > size - length) {
    vm.raise("java/lang/ArrayIndexOutOfBoundsException", "region outside the array");
    return nullptr;
  }
  return bytes.data() + start;
}

void JNICALL GetByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize length,
                                jbyte *buffer) {
  jbyte *region = byteRegion(Vm::of(env, "GetByteArrayRegion"), array, start, length);
  if (region != nullptr) {
    std::memcpy(buffer, region, static_cast<std::size_t>(length));
  }
}

void JNICALL SetByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize length,
                                const jbyte *buffer) {
  jbyte *region = byteRegion(Vm::of(env, "SetByteArrayRegion"), array, start, length);
  if (region != nullptr) {
    std::memcpy(region, buffer, static_cast<std::size_t>(length));
  }
}

jint JNICALL ThrowNew(JNIEnv *env, jclass clazz, const char *message) {
  Vm &vm = Vm::of(env, "ThrowNew");
  vm.raise(vm.deref(clazz, Kind::Class)->className, message != nullptr ? message : "");
  return 0;
}

jboolean JNICALL ExceptionCheck(JNIEnv *env) {
  return Vm::of(env, "ExceptionCheck", true).pending != nullptr ? JNI_TRUE : JNI_FALSE;
}

void JNICALL DeleteLocalRef(JNIEnv *env, jobject obj) {
  Vm::of(env, "DeleteLocalRef", true).deleteRef(obj);
}

std::string narrow(const std::u16string &text) {
  std::string out;
  for (char16_t unit : text) {
    out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return out;
}

}  // namespace

Vm::Vm() {
  fillWithTraps(table, std::make_index_sequence<kTableSlots>());
  table.FindClass = FindClass;
  table.GetObjectClass = GetObjectClass;
  table.GetFieldID = GetFieldID;
  table.GetLongField = GetLongField;
  table.SetLongField = SetLongField;
  table.GetMethodID = GetMethodID;
  table.NewObjectV = NewObjectV;
  table.CallVoidMethodV = CallVoidMethodV;
  table.NewString = NewString;
  table.GetStringLength = GetStringLength;
  table.GetStringChars = GetStringChars;
  table.ReleaseStringChars = ReleaseStringChars;
  table.GetArrayLength = GetArrayLength;
  table.GetByteArrayRegion = GetByteArrayRegion;
  table.SetByteArrayRegion = SetByteArrayRegion;
  table.ThrowNew = ThrowNew;
  table.ExceptionCheck = ExceptionCheck;
  table.DeleteLocalRef = DeleteLocalRef;
  env.functions = &table;
  env.vm = this;
}

Object *Vm::make(Kind kind) {
  objects.push_back(Object{kind, {}, {}, {}, {}, 0});
  return &objects.back();
}

Object *Vm::newString(const std::u16string &text) {
  Object *string = make(Kind::String);
  string->text = text;
  return string;
}

Object *Vm::classNamed(const std::string &name) {
  Object *&cls = classes[name];
  if (cls == nullptr) {
    cls = make(Kind::Class);
    cls->className = name;
  }
  return cls;
}

JNIEnv *Vm::enter(const char *name) {
  function = "the VM";
  nativeName = name;
  if (pending != nullptr) {
    misuse("called while the " + pending->className + " an earlier native left was unhandled");
  }
  ++frame;
  liveLocals = 0;
  return &env;
}

jobject Vm::ref(Object *object) { return object == nullptr ? nullptr : newRef(object); }

Object *Vm::returnedVector(jobject result) {
  function = "the VM";
  return result == nullptr ? nullptr : deref(result, Kind::Vector);
}

void Vm::leave() {
  function = nativeName;
  if (!stringChars.empty()) {
    misuse("returned without releasing the characters of \"" +
           narrow(stringChars.begin()->second->text) + "\"");
  }
  ++frame;  // every local reference of the call expires
  nativeName = nullptr;
}

Object *Vm::takeException() { return std::exchange(pending, nullptr); }

void Vm::fail(const std::string &what) {
  std::printf("stand-in VM: %s\n", what.c_str());
  std::fflush(stdout);
  ExitProcess(3);
}

Vm &Vm::of(JNIEnv *env, const char *function, bool allowedWithExceptionPending) {
  Vm &vm = *static_cast<Env *>(env)->vm;
  vm.function = function;
  if (vm.nativeName == nullptr) {
    vm.misuse("called outside a native method");
  }
  if (vm.pending != nullptr && !allowedWithExceptionPending) {
    vm.misuse("called with " + vm.pending->className + " pending");
  }
  return vm;
}

void Vm::misuse(const std::string &what) const {
  fail(std::string("JNI misuse in ") + function + ", called by " +
       (nativeName != nullptr ? nativeName : "no native") + ": " + what);
}

// References are numbers, not addresses, so that any value the library
// passes can be checked without touching memory.
Vm::Ref &Vm::liveRef(jobject handle) {
  const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(handle) / 16 - 1;
  if (index >= refs.size()) {
    misuse("a value that is no reference");
  }
  Ref &found = refs[index];
  if (!found.live) {
    misuse("a reference deleted before");
  }
  if (found.frame != frame) {
    misuse("a local reference of a native call that has returned");
  }
  return found;
}

Object *Vm::deref(jobject handle, Kind kind, bool nullAllowed) {
  if (handle == nullptr) {
    if (!nullAllowed) {
      misuse(std::string("null where ") + kKindNames[static_cast<int>(kind)] + " is needed");
    }
    return nullptr;
  }
  Object *target = liveRef(handle).target;
  if (target->kind != kind) {
    misuse(std::string(kKindNames[static_cast<int>(target->kind)]) + " where " +
           kKindNames[static_cast<int>(kind)] + " is needed");
  }
  return target;
}

jobject Vm::newRef(Object *object) {
  if (++liveLocals > kLocalCapacity) {
    misuse("more than 16 local references live at once");
  }
  refs.push_back(Ref{object, frame, true});
  return reinterpret_cast<jobject>(refs.size() * 16);
}

void Vm::deleteRef(jobject handle) {
  if (handle != nullptr) {
    liveRef(handle).live = false;
    --liveLocals;
  }
}

void Vm::raise(const std::string &className, const std::string &message) {
  Object *throwable = make(Kind::Throwable);
  throwable->className = className;
  throwable->text.assign(message.begin(), message.end());
  pending = throwable;
}

}  // namespace standin
