// Once the device is gone, every native method of CESerialPort returns with
// its failure value instead of waiting, and closing releases the device (how
// soon is a figure of the benchmark). The natives
// run on the real Linux layer and a pseudo-terminal, called through a Java VM
// in this process as Java would call them. Two ways a device goes: the peer
// of the pseudo-terminal closes (the kernel cuts the slave off), or, through
// the seams of device_seams.h, a USB adapter is pulled out (the kernel cuts
// its tty off alike, seen here through read() and ioctl() alone). And a live
// device that must not be taken for gone: it says it is readable with
// nothing to read.
#include <dirent.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "bounded_call.h"
#include "device_seams.h"
#include "jvm_fixture.h"
#include "opened_port.h"
#include "quorin_io_comm_CESerialPort.h"
#include "scoped_environment.h"
#include "serial/native_serial_port.h"
#include "termios_probe.h"
#include "thread_cpu_time.h"

namespace {

using namespace std::chrono_literals;

// A call that waits for input a gone device will never send waits for ever;
// one that returns is done within this even on a loaded machine.
constexpr auto kReturns = 10s;

// Where a native call leaves its result: set up before the call starts.
struct NativeResult {
  jint value = 0;
};

// One native call, bounded in time, on a thread of its own attached to the VM.
class NativeCall : private NativeResult, public BoundedCall {
 public:
  using Call = std::function<jint(JNIEnv *)>;

  NativeCall(Call call, std::function<void()> unblock)
      : BoundedCall(attached(std::move(call), value), std::move(unblock)) {}
  // Once the call has ended.
  jint result() const { return value; }

 private:
  static std::function<void()> attached(Call call, jint &result) {
    JavaVM *vm = nullptr;
    testjvm::env()->GetJavaVM(&vm);
    return [vm, call = std::move(call), &result] {
      JNIEnv *env = nullptr;
      vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
      result = call(env);
      vm->DetachCurrentThread();
    };
  }
};

enum class Cause { PeerCloses, AdapterPulledOut };

std::string causeName(const testing::TestParamInfo<Cause> &info) {
  return info.param == Cause::PeerCloses ? "PeerCloses" : "AdapterPulledOut";
}

// How many descriptors of this process are open on the character device.
int descriptorsOn(dev_t device) {
  int count = 0;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    struct stat status {};
    if (stat(entry.path().c_str(), &status) == 0 && S_ISCHR(status.st_mode) &&
        status.st_rdev == device) {
      ++count;
    }
  }
  return count;
}

class DeviceGone : public testing::TestWithParam<Cause> {
 protected:
  void SetUp() override {
    JNIEnv *env = testjvm::env();
    jobject holder = testjvm::newObject("PortHolder");
    self = env->NewGlobalRef(holder);
    env->DeleteLocalRef(holder);
    struct stat status {};
    ASSERT_EQ(fstat(pty.slave(), &status), 0);
    device = status.st_rdev;
    ASSERT_EQ(descriptorsOn(device), 1) << "the test's own descriptor";
    open();
    ASSERT_TRUE(isBound());
  }
  void TearDown() override {
    device_seams::restore();
    JNIEnv *env = testjvm::env();
    if (isBound()) {
      Java_quorin_io_comm_CESerialPort_nativeClose(env, self);
    }
    env->DeleteGlobalRef(self);
    EXPECT_EQ(testjvm::takeException(), "");
  }

  bool adapterPulledOut() const { return GetParam() == Cause::AdapterPulledOut; }

  void open() {
    JNIEnv *env = testjvm::env();
    jstring name = env->NewStringUTF(pty.slavePath().c_str());
    Java_quorin_io_comm_CESerialPort_nativeOpen(env, self, name);
    env->DeleteLocalRef(name);
  }
  bool isBound() {
    const jlong portAddress = testjvm::portAddressOf(self);
    return portAddress != 0 && portAddress != -1;
  }

  // While a read waits: the device goes the way the parameter says.
  void deviceGoes() {
    switch (GetParam()) {
      case Cause::PeerCloses:
        pty.closeMaster();
        return;
      case Cause::AdapterPulledOut:
        device_seams::pullOut(device, pty.slave());
        break;
    }
    // A byte from the far end wakes the waiting poll(); the seams then hide it.
    ASSERT_EQ(write(pty.master(), "w", 1), 1);
  }

  // nativeRead of up to 16 bytes; the first byte read lands in *first.
  NativeCall::Call nativeRead(jbyte *first = nullptr) {
    return [this, first](JNIEnv *env) {
      jbyteArray array = env->NewByteArray(16);
      const jint count = Java_quorin_io_comm_CESerialPort_nativeRead(env, self, array, 0, 16);
      if (first != nullptr && count > 0) {
        env->GetByteArrayRegion(array, 0, 1, first);
      }
      env->DeleteLocalRef(array);
      return count;
    };
  }
  std::function<void()> cutTheLine() {
    return [this] { pty.closeMaster(); };
  }

  MessageLog log;
  PseudoTerminal pty;
  dev_t device = 0;
  jobject self = nullptr;
};

}  // namespace

TEST_P(DeviceGone, EveryCallReturnsAtOnceAndCloseReleasesTheDevice) {
  NativeCall waiting(nativeRead(), cutTheLine());
  EXPECT_FALSE(waiting.endsWithin(200ms)) << "nativeRead returned with nothing to read";
  deviceGoes();
  ASSERT_TRUE(waiting.endsWithin(kReturns)) << "the waiting read went on after the device went";
  EXPECT_EQ(waiting.result(), -1);

  NativeCall laterRead(nativeRead(), cutTheLine());
  ASSERT_TRUE(laterRead.endsWithin(kReturns));
  EXPECT_EQ(laterRead.result(), -1);

  NativeCall available(
      [this](JNIEnv *env) { return Java_quorin_io_comm_CESerialPort_nativeAvailable(env, self); },
      cutTheLine());
  ASSERT_TRUE(available.endsWithin(kReturns));
  EXPECT_EQ(available.result(), 0);

  const TtySettings before = adapterPulledOut() ? ttySettingsOf(pty.slave()) : TtySettings{};
  NativeCall params(
      [this](JNIEnv *env) -> jint {
        return Java_quorin_io_comm_CESerialPort_nativeSetSerialPortParams(env, self, 19200, 7, 2,
                                                                          2);
      },
      cutTheLine());
  ASSERT_TRUE(params.endsWithin(kReturns));
  EXPECT_EQ(params.result(), JNI_FALSE);
  if (adapterPulledOut()) {
    const TtySettings after = ttySettingsOf(pty.slave());
    EXPECT_TRUE(sameBytes(before, after)) << "a gone device was changed";
  }

  NativeCall write(
      [this](JNIEnv *env) -> jint {
        Java_quorin_io_comm_CESerialPort_nativeWrite(env, self, 'x');
        return 0;
      },
      cutTheLine());
  ASSERT_TRUE(write.endsWithin(kReturns));
  if (adapterPulledOut()) {
    EXPECT_EQ(pty.receive(1, 100ms), "") << "a byte went out to a device known to be gone";
  }

  EXPECT_EQ(descriptorsOn(device), 2);
  EXPECT_NE(flock(pty.slave(), LOCK_EX | LOCK_NB), 0) << "the open port holds the device's lock";
  NativeCall close(
      [this](JNIEnv *env) -> jint {
        return Java_quorin_io_comm_CESerialPort_nativeClose(env, self);
      },
      cutTheLine());
  ASSERT_TRUE(close.endsWithin(kReturns));
  EXPECT_EQ(close.result(), JNI_TRUE);
  EXPECT_EQ(descriptorsOn(device), 1) << "the library's descriptor is still open";
  EXPECT_EQ(flock(pty.slave(), LOCK_EX | LOCK_NB), 0) << "closing did not release the lock";
  flock(pty.slave(), LOCK_UN);
  EXPECT_FALSE(std::filesystem::exists(log.file)) << "a gone device is no message";
}

// Plugged in again, the adapter that was gone opens and works: nothing of the
// old port is left holding it. (A pseudo-terminal whose peer closed cannot be
// opened again at all, so it is not plugged back.)
using AdapterPulledOut = DeviceGone;

TEST_P(AdapterPulledOut, OpensAgainWhenPluggedBack) {
  NativeCall waiting(nativeRead(), cutTheLine());
  EXPECT_FALSE(waiting.endsWithin(100ms));
  deviceGoes();
  ASSERT_TRUE(waiting.endsWithin(kReturns));
  EXPECT_EQ(waiting.result(), -1);
  ASSERT_EQ(Java_quorin_io_comm_CESerialPort_nativeClose(testjvm::env(), self), JNI_TRUE);

  device_seams::restore();
  ASSERT_EQ(ioctl(pty.slave(), TCFLSH, TCIFLUSH), 0);  // a new adapter starts empty
  open();
  ASSERT_TRUE(isBound()) << "the device did not open again";
  ASSERT_EQ(write(pty.master(), "r", 1), 1);
  jbyte first = 0;
  NativeCall read(nativeRead(&first), cutTheLine());
  ASSERT_TRUE(read.endsWithin(kReturns));
  EXPECT_EQ(read.result(), 1);
  EXPECT_EQ(first, 'r');
}

INSTANTIATE_TEST_SUITE_P(Causes, DeviceGone,
                         testing::Values(Cause::PeerCloses, Cause::AdapterPulledOut), causeName);
INSTANTIATE_TEST_SUITE_P(Causes, AdapterPulledOut, testing::Values(Cause::AdapterPulledOut),
                         causeName);

// Neither is a state a live tty stays in, nor one the kernel gives a gone
// tty: the device polls readable with nothing to read, with nothing counted or
// with a count that reads never find. A read waits on without spinning, the
// device is not taken for gone, and the read ends once the kernel says it is.
TEST(NothingToRead, AReadWaitsWithoutSpinningUntilTheDeviceIsGone) {
  for (const int counted : {0, 5}) {
    SCOPED_TRACE(testing::Message() << "FIONREAD says " << counted);
    PseudoTerminal pty;
    NativeSerialPort port(pty.slaveName().c_str());
    ASSERT_TRUE(port.isOpen());
    struct stat status {};
    ASSERT_EQ(fstat(pty.slave(), &status), 0);
    device_seams::readNothing(status.st_rdev, pty.slave(), counted);
    ASSERT_EQ(write(pty.master(), "w", 1), 1);
    int result = 0;
    std::chrono::nanoseconds cpu{};
    BoundedCall read(
        [&] {
          const auto before = threadCpuTime();
          BYTE buffer[16];
          result = port.readBytes(buffer, sizeof buffer);
          cpu = threadCpuTime() - before;
        },
        [&] { pty.closeMaster(); });
    EXPECT_FALSE(read.endsWithin(1s)) << "the read returned " << result;
    EXPECT_TRUE(port.setLineParams(19200, 8, ONESTOPBIT, NOPARITY)) << "taken for gone";
    pty.closeMaster();
    ASSERT_TRUE(read.endsWithin(5s)) << "the read went on after the device was gone";
    device_seams::restore();
    EXPECT_EQ(result, -1);
    EXPECT_LT(cpu, 100ms) << "the read spun while it waited";
  }
}
