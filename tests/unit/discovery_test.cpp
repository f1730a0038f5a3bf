#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "fake_registry.h"
#include "jvm_fixture.h"
#include "quorin_io_comm_CECommDriver.h"

namespace {

using Strings = std::vector<std::string>;
using Messages = std::vector<std::pair<std::string, std::string>>;

// What the natives did through JNI while a WatchedJni is in scope.
struct JniWatch {
  const JNINativeInterface_ *vm = nullptr;  // the VM's own functions
  std::vector<jobject> liveRefs;            // classes and strings made, not yet deleted
  int stringsMade = 0;
  int failingString = -1;     // the index of the NewString call that yields nothing
  std::string missingMethod;  // GetMethodID finds no method of this name
  bool addElementThrows = false;
  std::vector<int> keysOpenAtNewString;
};

JniWatch *watch = nullptr;

jclass JNICALL watchedFindClass(JNIEnv *env, const char *name) {
  jclass found = watch->vm->FindClass(env, name);
  watch->liveRefs.push_back(found);
  return found;
}

jmethodID JNICALL watchedGetMethodID(JNIEnv *env, jclass cls, const char *name, const char *sig) {
  return name == watch->missingMethod ? nullptr : watch->vm->GetMethodID(env, cls, name, sig);
}

jstring JNICALL watchedNewString(JNIEnv *env, const jchar *units, jsize length) {
  watch->keysOpenAtNewString.push_back(fake::registry().openKeys);
  if (watch->stringsMade++ == watch->failingString) {
    return nullptr;
  }
  jstring made = watch->vm->NewString(env, units, length);
  watch->liveRefs.push_back(made);
  return made;
}

void JNICALL watchedCallVoidMethodV(JNIEnv *env, jobject object, jmethodID method, va_list args) {
  if (!watch->addElementThrows) {
    watch->vm->CallVoidMethodV(env, object, method, args);
    return;
  }
  jclass error = watch->vm->FindClass(env, "java/lang/OutOfMemoryError");
  watch->vm->ThrowNew(env, error, "the vector cannot grow");
  watch->vm->DeleteLocalRef(env, error);
}

void JNICALL watchedDeleteLocalRef(JNIEnv *env, jobject ref) {
  auto &live = watch->liveRefs;
  live.erase(std::remove(live.begin(), live.end(), ref), live.end());
  watch->vm->DeleteLocalRef(env, ref);
}

// Puts a copy of the VM's function table with the watched entries in front of
// the natives; the VM's own table is back when the scope ends.
class WatchedJni {
 public:
  explicit WatchedJni(JNIEnv *env) : env(env), table(*env->functions) {
    state.vm = env->functions;
    table.FindClass = watchedFindClass;
    table.GetMethodID = watchedGetMethodID;
    table.NewString = watchedNewString;
    table.CallVoidMethodV = watchedCallVoidMethodV;
    table.DeleteLocalRef = watchedDeleteLocalRef;
    env->functions = &table;
    watch = &state;
  }
  ~WatchedJni() {
    env->functions = state.vm;
    watch = nullptr;
  }
  WatchedJni(const WatchedJni &) = delete;
  WatchedJni &operator=(const WatchedJni &) = delete;

  JniWatch state;

 private:
  JNIEnv *env;
  JNINativeInterface_ table;
};

// The vector's elements, read back through Java.
Strings elementsOf(jobject vector) {
  JNIEnv *env = testjvm::env();
  jclass vectorClass = env->FindClass("java/util/Vector");
  jmethodID size = env->GetMethodID(vectorClass, "size", "()I");
  jmethodID elementAt = env->GetMethodID(vectorClass, "elementAt", "(I)Ljava/lang/Object;");
  const jint count = env->CallIntMethod(vector, size);
  Strings names;
  for (jint i = 0; !env->ExceptionCheck() && i < count; ++i) {
    auto name = static_cast<jstring>(env->CallObjectMethod(vector, elementAt, i));
    if (env->ExceptionCheck()) {
      break;
    }
    std::u16string units(static_cast<std::size_t>(env->GetStringLength(name)), u'\0');
    env->GetStringRegion(name, 0, static_cast<jsize>(units.size()),
                         reinterpret_cast<jchar *>(&units[0]));
    names.push_back(fake::narrow(units.c_str()));
    env->DeleteLocalRef(name);
  }
  EXPECT_EQ(testjvm::takeException(), "");
  env->DeleteLocalRef(vectorClass);
  return names;
}

class PortDiscovery : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::resetRegistry();
  }
  void TearDown() override {
    EXPECT_EQ(registry.openKeys, 0) << "a registry key was left open";
    EXPECT_EQ(testjvm::takeException(), "");
  }

  jobject findSerialPorts() {
    return Java_quorin_io_comm_CECommDriver_findSerialPorts(env, nullptr);
  }
  void addDrivers(std::initializer_list<std::u16string> names) {
    for (const std::u16string &name : names) {
      registry.drivers.push_back(fake::driverNamed(u"Drv" + name, name));
    }
  }

  testjvm::LocalFrame frame;
  JNIEnv *env = testjvm::env();
  fake::Registry &registry = fake::registry();
  fake::Platform &platform = fake::platform();
};

TEST_F(PortDiscovery, ListsTheComNamesInSubkeyOrderWithFreshBuffersEachTime) {
  addDrivers({u"COM1:", u"TEL1:", u"COM2:"});
  jobject ports = findSerialPorts();
  ASSERT_NE(ports, nullptr);
  EXPECT_EQ(elementsOf(ports), (Strings{"COM1:", "COM2:"}));
  EXPECT_TRUE(platform.messages.empty());
  // The fake shrinks the count and size to what it returned, so a buffer
  // size not reset before the next call would show here.
  EXPECT_EQ(
      registry.calls,
      (Strings{"RegOpenKeyExW(HKLM,Drivers\\Active,0,8)", "RegEnumKeyExW(0,260)",
               "RegOpenKeyExW(active,DrvCOM1:,0,1)", "RegQueryValueExW(Name,42)",
               "RegCloseKey(driver)", "RegEnumKeyExW(1,260)", "RegOpenKeyExW(active,DrvTEL1:,0,1)",
               "RegQueryValueExW(Name,42)", "RegCloseKey(driver)", "RegEnumKeyExW(2,260)",
               "RegOpenKeyExW(active,DrvCOM2:,0,1)", "RegQueryValueExW(Name,42)",
               "RegCloseKey(driver)", "RegEnumKeyExW(3,260)", "RegCloseKey(active)"}));
}

TEST_F(PortDiscovery, NoActiveDriversGiveAnEmptyVectorQuietly) {
  jobject ports = findSerialPorts();
  ASSERT_NE(ports, nullptr);
  EXPECT_TRUE(elementsOf(ports).empty());
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(PortDiscovery, OnlyValuesBeginningWithUpperCaseComAreListed) {
  addDrivers({u"com1:", u"COM10:", u"CO", u"", u"XCOM1:", u"COMX"});
  EXPECT_EQ(elementsOf(findSerialPorts()), (Strings{"COM10:", "COMX"}));
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(PortDiscovery, NamesOfUpToTwentyUnitsFitTheValueBuffer) {
  addDrivers({u"COM45678901234567890", u"COM456789012345678901", u"COM3:"});
  EXPECT_EQ(elementsOf(findSerialPorts()), (Strings{"COM45678901234567890", "COM3:"}));
  EXPECT_EQ(
      platform.messages,
      (Messages{{"Error: Unable to query value, RegQueryValueEx = 234, Line = 148", "Oops"}}));
}

TEST_F(PortDiscovery, AValueWithoutTerminatorEndsWhereItsDataEnds) {
  addDrivers({u"COM12345:"});
  fake::ActiveDriver shortOne;
  shortOne.subkeyName = u"short";
  shortOne.nameUnits = u"COM7";  // shorter than the previous value, no terminator
  fake::ActiveDriver fullBuffer;
  fullBuffer.subkeyName = u"full";
  fullBuffer.nameUnits = u"COM456789012345678901";  // exactly 42 bytes
  registry.drivers.push_back(shortOne);
  registry.drivers.push_back(fullBuffer);
  EXPECT_EQ(elementsOf(findSerialPorts()), (Strings{"COM12345:", "COM7", "COM456789012345678901"}));
}

TEST_F(PortDiscovery, FaultsOfOneDriverAreReportedAndTheOthersStillListed) {
  addDrivers({u"COM1:", u"COM2:", u"COM3:", u"COM4:"});
  registry.drivers[1].hasName = false;
  registry.drivers[2].openResult = ERROR_ACCESS_DENIED;
  EXPECT_EQ(elementsOf(findSerialPorts()), (Strings{"COM1:", "COM4:"}));
  EXPECT_EQ(platform.messages,
            (Messages{{"Error: Unable to query value, RegQueryValueEx = 2, Line = 148", "Oops"},
                      {"Error: Unable to open key, RegOpenKey = 5, Line = 130", "Oops"}}));
  EXPECT_EQ(platform.calls, (Strings{"MessageBoxW(null,0)", "MessageBoxW(null,0)"}));
}

// Only "Drivers\Active" is open while a message waits for the user or Java is
// called: a driver's key is closed as soon as its value is read.
TEST_F(PortDiscovery, EachDriversKeyIsClosedRightAfterItsValueIsRead) {
  addDrivers({u"COM1:", u"COM456789012345678901"});
  std::vector<int> keysOpenAtMessages;
  platform.onCall = [&](const std::string &) { keysOpenAtMessages.push_back(registry.openKeys); };
  WatchedJni jni(env);
  EXPECT_NE(findSerialPorts(), nullptr);
  EXPECT_EQ(keysOpenAtMessages, std::vector<int>{1});
  EXPECT_EQ(jni.state.keysOpenAtNewString, std::vector<int>{1});
}

TEST_F(PortDiscovery, AnEnumerationErrorEndsTheListQuietly) {
  addDrivers({u"COM1:", u"COM2:", u"COM3:"});
  registry.enumFailsAt = 1;
  registry.enumFailure = ERROR_MORE_DATA;
  EXPECT_EQ(elementsOf(findSerialPorts()), (Strings{"COM1:"}));
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(registry.calls.back(), "RegCloseKey(active)");
}

TEST_F(PortDiscovery, AnActiveKeyThatCannotBeOpenedIsReportedAndGivesNull) {
  const struct {
    LONG code;
    const char *text;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, "Error: Unable to open key, RegOpenKey = 2, Line = 95"},
      {-3, "Error: Unable to open key, RegOpenKey = -3, Line = 95"},
      {ERROR_ACCESS_DENIED, "Error: unable to open key.  Probably due to security reasons."},
  };
  for (const auto &c : cases) {
    fake::reset();
    fake::resetRegistry();
    addDrivers({u"COM1:"});
    registry.activeOpenResult = c.code;
    EXPECT_EQ(findSerialPorts(), nullptr) << c.code;
    EXPECT_EQ(platform.messages, (Messages{{c.text, "Woops."}}));
    EXPECT_EQ(registry.calls, Strings{"RegOpenKeyExW(HKLM,Drivers\\Active,0,8)"});
  }
}

TEST_F(PortDiscovery, ParallelPortsAreANewEmptyVectorEachCall) {
  addDrivers({u"COM1:"});
  jobject first = Java_quorin_io_comm_CECommDriver_findParallelPorts(env, nullptr);
  jobject second = Java_quorin_io_comm_CECommDriver_findParallelPorts(env, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(env->IsSameObject(first, second));
  EXPECT_TRUE(elementsOf(first).empty());
  EXPECT_TRUE(elementsOf(second).empty());
  EXPECT_TRUE(registry.calls.empty());
}

// JNI's guarantee is 16 local references per native call; each name must be
// given back once the vector holds it.
TEST_F(PortDiscovery, TwoHundredPortsLeaveNoLocalReferenceBehind) {
  Strings expected;
  for (int i = 1; i <= 200; ++i) {
    const std::string name = "COM" + std::to_string(i) + ":";
    registry.drivers.push_back(
        fake::driverNamed(u"Serial" + std::u16string(name.begin(), name.end()),
                          std::u16string(name.begin(), name.end())));
    expected.push_back(name);
  }
  jobject ports = nullptr;
  {
    WatchedJni jni(env);
    ports = findSerialPorts();
    EXPECT_EQ(jni.state.stringsMade, 200);
    EXPECT_TRUE(jni.state.liveRefs.empty());
  }
  EXPECT_EQ(elementsOf(ports), expected);
}

TEST_F(PortDiscovery, AFailedNewStringReturnsTheListSoFar) {
  addDrivers({u"COM1:", u"COM2:", u"COM3:"});
  WatchedJni jni(env);
  jni.state.failingString = 1;
  jobject ports = findSerialPorts();
  EXPECT_EQ(jni.state.stringsMade, 2);
  EXPECT_TRUE(jni.state.liveRefs.empty());
  EXPECT_EQ(elementsOf(ports), (Strings{"COM1:"}));
  EXPECT_EQ(std::count(registry.calls.begin(), registry.calls.end(), "RegEnumKeyExW(2,260)"), 0);
}

TEST_F(PortDiscovery, AnExceptionFromTheVectorEndsTheListAndReachesTheCaller) {
  addDrivers({u"COM1:", u"COM2:"});
  WatchedJni jni(env);
  jni.state.addElementThrows = true;
  EXPECT_NE(findSerialPorts(), nullptr);
  EXPECT_EQ(testjvm::takeException(), "java.lang.OutOfMemoryError");
  EXPECT_EQ(jni.state.stringsMade, 1);
  EXPECT_TRUE(jni.state.liveRefs.empty());
}

TEST_F(PortDiscovery, AMissingVectorMethodGivesNullWithoutTouchingTheRegistry) {
  addDrivers({u"COM1:"});
  for (const char *method : {"<init>", "addElement"}) {
    WatchedJni jni(env);
    jni.state.missingMethod = method;
    EXPECT_EQ(findSerialPorts(), nullptr) << method;
    EXPECT_TRUE(jni.state.liveRefs.empty()) << method;
    EXPECT_TRUE(registry.calls.empty()) << method;
  }
  WatchedJni jni(env);
  jni.state.missingMethod = "<init>";
  EXPECT_EQ(Java_quorin_io_comm_CECommDriver_findParallelPorts(env, nullptr), nullptr);
  EXPECT_TRUE(jni.state.liveRefs.empty());
}

}  // namespace
