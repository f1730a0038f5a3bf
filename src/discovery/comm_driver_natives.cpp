#include "quorin_io_comm_CECommDriver.h"

#include <cstring>

#include "common/show_error.h"
#include "platform/platform.h"

namespace {

constexpr DWORD kSubkeyNameUnits = 260;
constexpr DWORD kNameValueBytes = 42;
constexpr DWORD kNameValueUnits = kNameValueBytes / sizeof(WCHAR);
// The longest text, with a code of -2147483648, takes 72 units.
constexpr std::size_t kErrorTextUnits = 80;

// A JNI local reference, handed back to the VM when the holder goes, so that
// a long list never fills the native frame's small table of references.
class LocalRef {
 public:
  LocalRef(JNIEnv *env, jobject ref) : env(env), ref(ref) {}
  ~LocalRef() {
    if (ref != nullptr) {
      env->DeleteLocalRef(ref);
    }
  }
  LocalRef(const LocalRef &) = delete;
  LocalRef &operator=(const LocalRef &) = delete;

  jobject get() const { return ref; }
  // Gives the reference up to the caller, who returns it to Java.
  jobject release() {
    jobject kept = ref;
    ref = nullptr;
    return kept;
  }

 private:
  JNIEnv *env;
  jobject ref;
};

// An open registry key, closed whatever way the function leaves, or earlier.
class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() { close(); }
  OpenKey(const OpenKey &) = delete;
  OpenKey &operator=(const OpenKey &) = delete;

  HKEY get() const { return key; }
  PHKEY receive() { return &key; }
  void close() {
    if (key != nullptr) {
      RegCloseKey(key);
      key = nullptr;
    }
  }

 private:
  HKEY key = nullptr;
};

void showRegistryError(LPCWSTR format, LONG code, int line, LPCWSTR caption) {
  WCHAR text[kErrorTextUnits];
  wsprintfW(text, format, static_cast<int>(code), line);
  showError(text, caption);
}

// A new, empty java.util.Vector; null when the class, its constructor or the
// object cannot be had.
jobject newVector(JNIEnv *env, jclass vectorClass) {
  if (vectorClass == nullptr) {
    return nullptr;
  }
  jmethodID constructor = env->GetMethodID(vectorClass, "<init>", "()V");
  if (constructor == nullptr) {
    return nullptr;
  }
  return env->NewObject(vectorClass, constructor);
}

// The units of a "Name" value up to its terminator, never beyond the bytes
// the registry returned.
jsize nameLength(const WCHAR *value, DWORD sizeInBytes) {
  const DWORD limit =
      sizeInBytes / sizeof(WCHAR) < kNameValueUnits ? sizeInBytes / sizeof(WCHAR) : kNameValueUnits;
  jsize length = 0;
  while (static_cast<DWORD>(length) < limit && value[length] != 0) {
    ++length;
  }
  return length;
}

// Adds the "Name" of the active driver under subkeyName to the vector when it
// is a serial port. False when the list must end here.
bool addSerialPort(JNIEnv *env, jobject vector, jmethodID addElement, HKEY activeDrivers,
                   LPCWSTR subkeyName) {
  OpenKey driver;
  LONG result = RegOpenKeyExW(activeDrivers, subkeyName, 0, KEY_QUERY_VALUE, driver.receive());
  if (result != ERROR_SUCCESS) {
    showRegistryError(TEXT("Error: Unable to open key, RegOpenKey = %d, Line = %d"), result, 130,
                      TEXT("Oops"));
    return true;
  }
  WCHAR value[kNameValueUnits] = {};
  DWORD size = kNameValueBytes;
  result = RegQueryValueExW(driver.get(), TEXT("Name"), nullptr, nullptr,
                            reinterpret_cast<LPBYTE>(value), &size);
  driver.close();  // not held open while an error waits for the user, nor across JNI calls
  if (result != ERROR_SUCCESS) {
    showRegistryError(TEXT("Error: Unable to query value, RegQueryValueEx = %d, Line = %d"), result,
                      148, TEXT("Oops"));
    return true;
  }
  const WCHAR *serialPrefix = TEXT("COM");
  if (wcsncmp(value, serialPrefix, wcslen(serialPrefix)) != 0) {
    return true;
  }
  LocalRef name(env,
                env->NewString(reinterpret_cast<const jchar *>(value), nameLength(value, size)));
  if (name.get() == nullptr) {
    return false;
  }
  env->CallVoidMethod(vector, addElement, name.get());
  // A Java exception (the vector could not grow) forbids further JNI calls;
  // the caller gets it with the ports listed so far.
  return !env->ExceptionCheck();
}

}  // namespace

// Both natives are static in CECommDriver, and neither looks at the class it
// is handed, so an instance declaration would serve as well.
extern "C" JNIEXPORT jobject JNICALL Java_quorin_io_comm_CECommDriver_findSerialPorts(JNIEnv *env,
                                                                                      jclass) {
  LocalRef vectorClass(env, env->FindClass("java/util/Vector"));
  LocalRef vector(env, newVector(env, static_cast<jclass>(vectorClass.get())));
  if (vector.get() == nullptr) {
    return nullptr;
  }
  jmethodID addElement = env->GetMethodID(static_cast<jclass>(vectorClass.get()), "addElement",
                                          "(Ljava/lang/Object;)V");
  if (addElement == nullptr) {
    return nullptr;
  }

  OpenKey activeDrivers;
  const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\Active"), 0,
                                    KEY_ENUMERATE_SUB_KEYS, activeDrivers.receive());
  if (result == ERROR_ACCESS_DENIED) {
    showError(TEXT("Error: unable to open key.  Probably due to security reasons."),
              TEXT("Woops."));
    return nullptr;
  }
  if (result != ERROR_SUCCESS) {
    showRegistryError(TEXT("Error: Unable to open key, RegOpenKey = %d, Line = %d"), result, 95,
                      TEXT("Woops."));
    return nullptr;
  }

  // The list ends at the first index the enumeration refuses, whether it ran
  // out of subkeys or failed; a fault in one entry only skips that entry.
  for (DWORD index = 0;; ++index) {
    WCHAR subkeyName[kSubkeyNameUnits];
    DWORD count = kSubkeyNameUnits;
    if (RegEnumKeyExW(activeDrivers.get(), index, subkeyName, &count, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      break;
    }
    if (!addSerialPort(env, vector.get(), addElement, activeDrivers.get(), subkeyName)) {
      break;
    }
  }
  return vector.release();
}

extern "C" JNIEXPORT jobject JNICALL Java_quorin_io_comm_CECommDriver_findParallelPorts(JNIEnv *env,
                                                                                        jclass) {
  LocalRef vectorClass(env, env->FindClass("java/util/Vector"));
  return newVector(env, static_cast<jclass>(vectorClass.get()));
}
