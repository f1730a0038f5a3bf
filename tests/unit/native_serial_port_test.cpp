#include <gtest/gtest.h>

#include <cstring>

#include "fake_platform.h"
#include "serial/native_serial_port.h"

namespace {

using Strings = std::vector<std::string>;
using Messages = std::vector<std::pair<std::string, std::string>>;

DWORD flagWord(const DCB &dcb) {
  DWORD word;
  std::memcpy(&word, reinterpret_cast<const BYTE *>(&dcb) + 8, sizeof word);
  return word;
}

void setFlagWord(DCB &dcb, DWORD word) {
  std::memcpy(reinterpret_cast<BYTE *>(&dcb) + 8, &word, sizeof word);
}

class OpenPort : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  fake::Platform &platform = fake::platform();
};

TEST_F(OpenPort, OpensExclusivelyThenConfiguresSetsTimeoutsAndRaisesDtrBeforeRts) {
  NativeSerialPort port(u"COM1:");
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(platform.calls,
            (Strings{"CreateFileW(COM1:,0xc0000000,0,null,3,0,null)", "GetCommState(28)",
                     "SetCommState", "GetCommTimeouts", "SetCommTimeouts", "EscapeCommFunction(5)",
                     "EscapeCommFunction(3)"}));
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(OpenPort, ChangesOnlyTheDefaultedFlagsAndKeepsTheDriversOtherFields) {
  DCB driver{};
  setFlagWord(driver, 0xFFFFFFFFu);
  driver.BaudRate = 115200;
  driver.XonLim = 11;
  driver.XoffLim = 22;
  driver.ByteSize = 7;
  driver.Parity = EVENPARITY;
  driver.StopBits = TWOSTOPBITS;
  driver.XonChar = 0x11;
  driver.XoffChar = 0x13;
  driver.ErrorChar = 'E';
  driver.EofChar = 'Z';
  driver.EvtChar = 'V';
  driver.wReserved = 0x1234;
  driver.wReserved1 = 0x5678;
  platform.driverState = driver;

  NativeSerialPort port(u"COM1:");

  ASSERT_EQ(platform.statesSet.size(), 1u);
  const DCB &set = platform.statesSet[0];
  EXPECT_EQ(flagWord(set), 0xFFFF9093u);
  EXPECT_EQ(set.DCBlength, 28u);
  EXPECT_EQ(set.BaudRate, 9600u);
  EXPECT_EQ(set.ByteSize, 8);
  EXPECT_EQ(set.Parity, NOPARITY);
  EXPECT_EQ(set.StopBits, ONESTOPBIT);
  EXPECT_EQ(set.XonLim, 11);
  EXPECT_EQ(set.XoffLim, 22);
  EXPECT_EQ(set.XonChar, 0x11);
  EXPECT_EQ(set.XoffChar, 0x13);
  EXPECT_EQ(set.ErrorChar, 'E');
  EXPECT_EQ(set.EofChar, 'Z');
  EXPECT_EQ(set.EvtChar, 'V');
  EXPECT_EQ(set.wReserved, 0x1234);
  EXPECT_EQ(set.wReserved1, 0x5678);
}

TEST_F(OpenPort, SetsTheDefaultFlagsOnACleanRecordAndWhenTheDriverCannotReport) {
  setFlagWord(platform.driverState, 0);
  { NativeSerialPort port(u"COM1:"); }
  fake::reset();
  platform.getCommStateFails = true;
  NativeSerialPort port(u"COM1:");
  ASSERT_EQ(platform.statesSet.size(), 1u);
  EXPECT_EQ(flagWord(platform.statesSet[0]), 0x1093u);
  EXPECT_EQ(platform.statesSet[0].BaudRate, 9600u);
  EXPECT_TRUE(port.isOpen());
}

TEST_F(OpenPort, ReplacesAllFiveTimeouts) {
  platform.driverTimeouts = {1, 2, 3, 4, 5};
  NativeSerialPort port(u"COM1:");
  ASSERT_EQ(platform.timeoutsSet.size(), 1u);
  const COMMTIMEOUTS &t = platform.timeoutsSet[0];
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(OpenPort, ADeviceThatWillNotOpenIsReportedOnceAndLeavesAClosedObject) {
  platform.createFails = true;
  NativeSerialPort port(u"COM9:");
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(platform.messages, (Messages{{"Unable to open the port", "Error"}}));
  EXPECT_EQ(platform.calls.size(), 2u);  // CreateFileW and the message box
  EXPECT_EQ(platform.calls[1], "MessageBoxW(null,0)");
}

TEST_F(OpenPort, ARefusedCommStateLeavesThePortOpenWithoutTimeoutsOrModemLines) {
  platform.setCommStateFails = true;
  NativeSerialPort port(u"COM1:");
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(platform.messages, (Messages{{"Unable to configure the serial port", "Error"}}));
  EXPECT_TRUE(platform.timeoutsSet.empty());
  EXPECT_EQ(platform.calls.back(), "MessageBoxW(null,0)");
  for (const std::string &call : platform.calls) {
    EXPECT_EQ(call.find("EscapeCommFunction"), std::string::npos);
  }
}

TEST_F(OpenPort, RefusedTimeoutsLeaveThePortOpenWithoutModemLines) {
  platform.setTimeoutsFails = true;
  NativeSerialPort port(u"COM1:");
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(platform.messages, (Messages{{"Unable to set the time-out parameters", "Error"}}));
  EXPECT_EQ(platform.calls.back(), "MessageBoxW(null,0)");
  EXPECT_EQ(platform.statesSet.size(), 1u);
}

TEST_F(OpenPort, CloseClosesOnceAndThenMakesNoPlatformCall) {
  NativeSerialPort port(u"COM1:");
  platform.calls.clear();
  EXPECT_TRUE(port.closePort());
  EXPECT_FALSE(port.isOpen());
  EXPECT_FALSE(port.closePort());
  EXPECT_EQ(platform.calls, Strings{"CloseHandle"});
}

TEST_F(OpenPort, AFailedCloseKeepsThePortOpenSoThatCloseCanBeRetried) {
  NativeSerialPort port(u"COM1:");
  platform.closeFails = true;
  EXPECT_FALSE(port.closePort());
  EXPECT_TRUE(port.isOpen());
  platform.closeFails = false;
  EXPECT_TRUE(port.closePort());
}

TEST_F(OpenPort, DestructionClosesAnOpenDeviceAndLeavesAClosedOneAlone) {
  { NativeSerialPort port(u"COM1:"); }
  EXPECT_EQ(platform.calls.back(), "CloseHandle");
  fake::reset();
  platform.createFails = true;
  { NativeSerialPort port(u"COM1:"); }
  EXPECT_EQ(platform.calls.back(), "MessageBoxW(null,0)");
}

}  // namespace
