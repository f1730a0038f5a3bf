#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fake_platform.h"
#include "jvm_fixture.h"
#include "quorin_io_comm_CESerialPort.h"

namespace {

using Strings = std::vector<std::string>;
using Messages = std::vector<std::pair<std::string, std::string>>;

jstring javaString(const char16_t *text) {
  jsize length = 0;
  while (text[length] != 0) {
    ++length;
  }
  return testjvm::env()->NewString(reinterpret_cast<const jchar *>(text), length);
}

class SerialPortNatives : public ::testing::Test {
 protected:
  void SetUp() override {
    env = testjvm::env();
    fake::reset();
    self = testjvm::newObject("PortHolder");
  }
  void TearDown() override {
    // Leave no port allocated behind a test that bound one.
    const jlong portAddress = testjvm::portAddressOf(self);
    if (portAddress != 0 && portAddress != -1) {
      platform.closeFails = false;
      Java_quorin_io_comm_CESerialPort_nativeClose(env, self);
    }
    EXPECT_EQ(testjvm::takeException(), "");
    fake::reset();
  }

  void open(const char16_t *name = u"COM1:") {
    jstring portName = javaString(name);
    Java_quorin_io_comm_CESerialPort_nativeOpen(env, self, portName);
    env->DeleteLocalRef(portName);
  }
  void openQuietly() {
    open();
    platform.calls.clear();
  }

  testjvm::LocalFrame frame;
  JNIEnv *env = nullptr;
  jobject self = nullptr;
  fake::Platform &platform = fake::platform();
};

TEST_F(SerialPortNatives, OpenBindsTheNewPortAndCloseUnbindsIt) {
  open(u"COM1:");
  EXPECT_EQ(platform.calls.front(), "CreateFileW(COM1:,0xc0000000,0,null,3,0,null)");
  const jlong address = testjvm::portAddressOf(self);
  EXPECT_NE(address, 0);
  EXPECT_NE(address, -1);

  platform.calls.clear();
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeClose(env, self), JNI_TRUE);
  EXPECT_EQ(testjvm::portAddressOf(self), -1);
  EXPECT_EQ(platform.calls, Strings{"CloseHandle"});

  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeClose(env, self), JNI_FALSE);
  EXPECT_EQ(platform.calls, Strings{"CloseHandle"});

  open(u"COM2:");
  EXPECT_NE(testjvm::portAddressOf(self), -1);
  EXPECT_NE(testjvm::portAddressOf(self), 0);
}

TEST_F(SerialPortNatives, TheDeviceNameIsTheWholeJavaString) {
  open(u"COM12:");
  EXPECT_EQ(platform.calls.front(), "CreateFileW(COM12:,0xc0000000,0,null,3,0,null)");
}

TEST_F(SerialPortNatives, AnUnknownPortLeavesTheFieldAsItWas) {
  platform.createFails = true;
  open(u"NOPE:");
  EXPECT_EQ(testjvm::portAddressOf(self), 0);
  EXPECT_EQ(platform.messages, (Messages{{"Unable to open the port", "Error"}}));

  testjvm::setPortAddress(self, -1);
  open(u"NOPE:");
  EXPECT_EQ(testjvm::portAddressOf(self), -1);
}

TEST_F(SerialPortNatives, APortThatCannotBeConfiguredIsBoundAllTheSame) {
  platform.setCommStateFails = true;
  open();
  EXPECT_NE(testjvm::portAddressOf(self), 0);
  EXPECT_EQ(platform.messages, (Messages{{"Unable to configure the serial port", "Error"}}));
}

// A zero unit would cut the name short: no device is named so, and the user
// is told as for any name that does not open.
TEST_F(SerialPortNatives, ANullNameOrOneWithAZeroUnitOpensNothing) {
  Java_quorin_io_comm_CESerialPort_nativeOpen(env, self, nullptr);
  EXPECT_TRUE(platform.calls.empty());
  const jchar withZero[] = {'C', 'O', 'M', '1', 0, 'j', 'u', 'n', 'k'};
  jstring name = env->NewString(withZero, 9);
  Java_quorin_io_comm_CESerialPort_nativeOpen(env, self, name);
  EXPECT_EQ(platform.calls, Strings{"MessageBoxW(null,0)"});
  EXPECT_EQ(platform.messages, (Messages{{"Unable to open the port", "Error"}}));
  EXPECT_EQ(testjvm::portAddressOf(self), 0);
}

// The port opened for a class without the field could not be found again:
// it is closed at once.
TEST_F(SerialPortNatives, WithoutTheFieldNoPortStaysOpen) {
  jobject noField = testjvm::newObject("NoHandleField");
  Java_quorin_io_comm_CESerialPort_nativeOpen(env, noField, javaString(u"COM1:"));
  EXPECT_EQ(testjvm::takeException(), "java.lang.NoSuchFieldError");
  EXPECT_EQ(platform.calls.back(), "CloseHandle");
  platform.calls.clear();
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeClose(env, noField), JNI_FALSE);
  EXPECT_EQ(testjvm::takeException(), "java.lang.NoSuchFieldError");
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeAvailable(env, noField), 0);
  EXPECT_EQ(testjvm::takeException(), "java.lang.NoSuchFieldError");
  EXPECT_TRUE(platform.calls.empty());
}

// Whatever the field holds is neither read nor closed (CESerialPort closes a
// port it still holds first); a failed open leaves it as it was.
TEST_F(SerialPortNatives, OpenWritesTheFieldWithoutReadingIt) {
  const jlong noPort = 0x5A5A5A50;  // taken for an address, it would crash the test
  testjvm::setPortAddress(self, noPort);
  platform.createFails = true;
  open(u"NOPE:");
  EXPECT_EQ(testjvm::portAddressOf(self), noPort);
  platform.createFails = false;
  platform.calls.clear();
  open(u"COM2:");
  EXPECT_EQ(platform.calls.front(), "CreateFileW(COM2:,0xc0000000,0,null,3,0,null)");
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "CloseHandle"), 0);
  const jlong address = testjvm::portAddressOf(self);
  EXPECT_NE(address, noPort);
  EXPECT_NE(address, 0);
  EXPECT_NE(address, -1);
}

TEST_F(SerialPortNatives, CloseWithoutABoundPortIsFalseAndQuiet) {
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeClose(env, self), JNI_FALSE);
  testjvm::setPortAddress(self, -1);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeClose(env, self), JNI_FALSE);
  EXPECT_TRUE(platform.calls.empty());
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(SerialPortNatives, AFailedCloseLeavesThePortBound) {
  open();
  const jlong address = testjvm::portAddressOf(self);
  platform.closeFails = true;
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeClose(env, self), JNI_FALSE);
  EXPECT_EQ(testjvm::portAddressOf(self), address);
  platform.closeFails = false;
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeClose(env, self), JNI_TRUE);
  EXPECT_EQ(testjvm::portAddressOf(self), -1);
}

// Reading into Java arrays.

jbyteArray filledArray(jsize length, jbyte fill) {
  JNIEnv *env = testjvm::env();
  jbyteArray array = env->NewByteArray(length);
  std::vector<jbyte> bytes(static_cast<std::size_t>(length), fill);
  env->SetByteArrayRegion(array, 0, length, bytes.data());
  return array;
}

std::vector<jbyte> contents(jbyteArray array) {
  JNIEnv *env = testjvm::env();
  std::vector<jbyte> bytes(static_cast<std::size_t>(env->GetArrayLength(array)));
  env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), bytes.data());
  return bytes;
}

TEST_F(SerialPortNatives, ReadStoresTheBytesAtTheOffsetUnchanged) {
  openQuietly();
  platform.queueReports = {{true, 3}};
  platform.input = {0x80, 0xFF, 0x01};
  jbyteArray b = filledArray(8, 9);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, 2, 5), 3);
  EXPECT_EQ(contents(b), (std::vector<jbyte>{9, 9, -128, -1, 1, 9, 9, 9}));
  EXPECT_EQ(platform.calls.back(), "ReadFile(5)");
}

TEST_F(SerialPortNatives, ReadOfZeroBytesWaitsThenLeavesTheArrayAlone) {
  openQuietly();
  platform.queueReports = {{true, 0}, {true, 1}};
  platform.input = {5};
  jbyteArray b = filledArray(2, 9);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, 0, 0), 0);
  EXPECT_EQ(contents(b), (std::vector<jbyte>{9, 9}));
  EXPECT_EQ(platform.input.size(), 1u);
}

TEST_F(SerialPortNatives, AFailedReadStoresNothing) {
  openQuietly();
  platform.queueReports = {{false, 0}};
  jbyteArray b = filledArray(2, 9);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, 0, 2), -1);
  EXPECT_EQ(contents(b), (std::vector<jbyte>{9, 9}));
}

// As CESerialPort calls it, with the value of the object's field.
jint writeBytes(JNIEnv *env, jobject self, jbyteArray b, jint off, jint len) {
  return Java_quorin_io_comm_CESerialPort_nativeWriteBytes(env, self, testjvm::portAddressOf(self),
                                                           b, off, len);
}

jint readWithin(JNIEnv *env, jobject self, jbyteArray b, jint off, jint len, jint timeoutMs) {
  return Java_quorin_io_comm_CESerialPort_nativeReadWithin(env, self, testjvm::portAddressOf(self),
                                                           b, off, len, timeoutMs);
}

TEST_F(SerialPortNatives, BadArraysOrRangesRaiseAndNeitherConsumeNorSend) {
  openQuietly();
  jbyteArray b = filledArray(4, 0);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, nullptr, 0, 1), -1);
  EXPECT_EQ(testjvm::takeException(), "java.lang.NullPointerException");
  const struct {
    jint off, len;
  } outside[] = {{-1, 1}, {0, -1}, {0, 5}, {4, 1}, {5, 0}, {3, 0x7FFFFFFF}, {0x7FFFFFFF, 2}};
  for (const auto &range : outside) {
    EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, range.off, range.len), -1);
    EXPECT_EQ(testjvm::takeException(), "java.lang.ArrayIndexOutOfBoundsException")
        << range.off << "," << range.len;
    EXPECT_EQ(writeBytes(env, self, b, range.off, range.len), -1);
    EXPECT_EQ(testjvm::takeException(), "java.lang.ArrayIndexOutOfBoundsException")
        << range.off << "," << range.len;
    EXPECT_EQ(readWithin(env, self, b, range.off, range.len, 100), -1);
    EXPECT_EQ(testjvm::takeException(), "java.lang.ArrayIndexOutOfBoundsException")
        << range.off << "," << range.len;
  }
  EXPECT_EQ(readWithin(env, self, nullptr, 0, 1, 100), -1);
  EXPECT_EQ(testjvm::takeException(), "java.lang.NullPointerException");
  EXPECT_EQ(readWithin(env, self, b, 0, 1, -1), -1);
  EXPECT_EQ(testjvm::takeException(), "java.lang.IllegalArgumentException");
  EXPECT_EQ(writeBytes(env, self, nullptr, 0, 1), -1);
  EXPECT_EQ(testjvm::takeException(), "java.lang.NullPointerException");
  EXPECT_TRUE(platform.calls.empty());  // the queue was never even asked, nothing sent
}

TEST_F(SerialPortNatives, AHugeLengthAsksTheDriverForNoMoreThanOneRead) {
  openQuietly();
  platform.queueReports = {{true, 3}};
  platform.input = {1, 2, 3};
  const jint huge = 16 * 1024 * 1024;
  jbyteArray b = env->NewByteArray(huge);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, 0, huge), 3);
  EXPECT_EQ(platform.calls.back(), "ReadFile(65536)");
  jbyte first[3] = {};
  env->GetByteArrayRegion(b, 0, 3, first);
  EXPECT_EQ(std::vector<jbyte>(first, first + 3), (std::vector<jbyte>{1, 2, 3}));

  platform.queueReports = {{true, 3}};
  platform.input = {4, 5, 6};
  platform.memoryRunsOut = true;  // then it takes what the stack holds
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, 0, huge), 3);
  platform.memoryRunsOut = false;
  EXPECT_EQ(platform.calls.back(), "ReadFile(8192)");
}

TEST_F(SerialPortNatives, ReadFillsTheArrayToItsVeryEnd) {
  openQuietly();
  platform.queueReports = {{true, 2}};
  platform.input = {1, 2};
  jbyteArray b = filledArray(4, 0);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, 2, 2), 2);
  EXPECT_EQ(contents(b), (std::vector<jbyte>{0, 0, 1, 2}));
}

TEST_F(SerialPortNatives, WithoutAPortReadWriteAndAvailableDoNothing) {
  jbyteArray b = filledArray(1, 0);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, 0, 1), -1);
  Java_quorin_io_comm_CESerialPort_nativeWrite(env, self, 'x');
  EXPECT_EQ(writeBytes(env, self, b, 0, 1), -1);
  EXPECT_EQ(readWithin(env, self, b, 0, 1, 100), -1);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeAvailable(env, self), 0);
  testjvm::setPortAddress(self, -1);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeRead(env, self, b, 0, 1), -1);
  EXPECT_EQ(writeBytes(env, self, b, 0, 1), -1);
  EXPECT_EQ(readWithin(env, self, b, 0, 1, 100), -1);
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeAvailable(env, self), 0);
  EXPECT_TRUE(platform.calls.empty());
}

TEST_F(SerialPortNatives, WriteSendsTheLowByteAndAvailableCountsTheQueue) {
  openQuietly();
  Java_quorin_io_comm_CESerialPort_nativeWrite(env, self, 0x141);
  EXPECT_EQ(platform.written, std::vector<BYTE>{0x41});
  platform.queueReports = {{true, 12}};
  EXPECT_EQ(Java_quorin_io_comm_CESerialPort_nativeAvailable(env, self), 12);
}

// The range goes out unchanged. Beyond what the stack holds, a frame needs
// memory: without it nothing is sent (a part would garble the frame) and the
// VM hears why.
TEST_F(SerialPortNatives, AFrameGoesOutWholeAndUnchangedOrNotAtAll) {
  openQuietly();
  const jint large = 64 * 1024 + 3;
  jbyteArray b = filledArray(large + 2, 7);
  const jbyte edges[] = {-128, -1, 1};
  env->SetByteArrayRegion(b, large - 1, 3, edges);
  EXPECT_EQ(writeBytes(env, self, b, 2, large), large);
  std::vector<BYTE> expected(large, 7);
  std::copy(std::begin(edges), std::end(edges), expected.end() - 3);  // as unsigned bytes
  EXPECT_EQ(platform.written, expected);
  platform.memoryRunsOut = true;
  EXPECT_EQ(writeBytes(env, self, b, 0, large), -1);
  EXPECT_EQ(testjvm::takeException(), "java.lang.OutOfMemoryError");
  EXPECT_EQ(writeBytes(env, self, b, 0, 8192), 8192);  // the stack holds that much
  platform.memoryRunsOut = false;
  EXPECT_EQ(platform.calls, (Strings{"WriteFile(65539)", "WriteFile(8192)"}));
}

// Line parameters.

jboolean setParams(JNIEnv *env, jobject self, jint baud, jint data, jint stop, jint parity) {
  return Java_quorin_io_comm_CESerialPort_nativeSetSerialPortParams(env, self, baud, data, stop,
                                                                    parity);
}

TEST_F(SerialPortNatives, ParamsPassTheTranslatedCodesToTheDriver) {
  openQuietly();
  const struct {
    jint stop, parity;
    BYTE stopCode, parityCode;
  } cases[] = {{1, 0, ONESTOPBIT, NOPARITY},
               {2, 1, TWOSTOPBITS, ODDPARITY},
               {3, 2, ONE5STOPBITS, EVENPARITY},
               {1, 3, ONESTOPBIT, MARKPARITY},
               {1, 4, ONESTOPBIT, SPACEPARITY}};
  for (const auto &c : cases) {
    for (jint data = 5; data <= 8; ++data) {
      EXPECT_EQ(setParams(env, self, 19200, data, c.stop, c.parity), JNI_TRUE);
      const DCB &set = platform.statesSet.back();
      EXPECT_EQ(set.BaudRate, 19200u);
      EXPECT_EQ(set.ByteSize, data);
      EXPECT_EQ(set.StopBits, c.stopCode) << "Java stop bits " << c.stop;
      EXPECT_EQ(set.Parity, c.parityCode) << "Java parity " << c.parity;
    }
  }
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(SerialPortNatives, ParamsReportOnlyTheFirstInvalidArgument) {
  openQuietly();
  const struct {
    jint data, stop, parity;
    const char *message;
  } cases[] = {{9, 1, 0, "Invalid number of data bits"},
               {4, 0, 7, "Invalid number of data bits"},
               {8, 0, 7, "Invalid number of stop bits"},
               {8, 4, 0, "Invalid number of stop bits"},
               {8, 3, 5, "Invalid Parity"},
               {5, 2, -1, "Invalid Parity"}};
  for (const auto &c : cases) {
    platform.messages.clear();
    EXPECT_EQ(setParams(env, self, 9600, c.data, c.stop, c.parity), JNI_FALSE);
    EXPECT_EQ(platform.messages, (Messages{{c.message, "Error"}}));
  }
  EXPECT_TRUE(platform.statesSet.size() == 1u);  // only the open's; nothing reached the driver
}

TEST_F(SerialPortNatives, ParamsAreCheckedEvenWithoutAPortButOnlyRefusedQuietly) {
  EXPECT_EQ(setParams(env, self, 9600, 8, 1, 9), JNI_FALSE);
  EXPECT_EQ(platform.messages, (Messages{{"Invalid Parity", "Error"}}));
  platform.messages.clear();
  EXPECT_EQ(setParams(env, self, 9600, 8, 1, 0), JNI_FALSE);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_TRUE(platform.calls.size() == 1u);  // the message box of the first call
}

// The driver judges the rate: a negative one reaches it as the unsigned
// BaudRate it stands for.
TEST_F(SerialPortNatives, ADriverRefusalIsFalseWithoutAMessageAndTheBaudRateIsPassedAsItIs) {
  openQuietly();
  platform.setCommStateFails = true;
  const std::pair<jint, DWORD> rates[] = {
      {0x7FFFFFFF, 0x7FFFFFFFu}, {-5, 0xFFFFFFFBu}, {-2147483647 - 1, 0x80000000u}};
  for (const auto &[baud, passed] : rates) {
    EXPECT_EQ(setParams(env, self, baud, 8, 1, 0), JNI_FALSE) << baud;
    EXPECT_EQ(platform.statesSet.back().BaudRate, passed) << baud;
  }
  EXPECT_EQ(platform.statesSet.size(), 4u);  // the open's and these three
  EXPECT_TRUE(platform.messages.empty());
}

}  // namespace
