#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fake_platform.h"
#include "serial/native_serial_port.h"

namespace {

using Strings = std::vector<std::string>;

class PortIo : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    port = std::make_unique<NativeSerialPort>(u"COM1:");
    platform.calls.clear();
  }
  void TearDown() override {
    port.reset();
    fake::reset();
  }

  std::unique_ptr<NativeSerialPort> closedPort() {
    platform.createFails = true;
    auto closed = std::make_unique<NativeSerialPort>(u"COM1:");
    platform.createFails = false;
    platform.calls.clear();
    platform.messages.clear();
    return closed;
  }

  fake::Platform &platform = fake::platform();
  std::unique_ptr<NativeSerialPort> port;
};

TEST_F(PortIo, ReadsAtOnceWhenBytesAreAlreadyQueued) {
  platform.queueReports = {{true, 3}};
  platform.input = {1, 2, 3};
  BYTE buffer[10] = {};
  EXPECT_EQ(port->readBytes(buffer, 10), 3);
  EXPECT_EQ(platform.calls, (Strings{"ClearCommError", "ReadFile(10)"}));
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[2], 3);
}

TEST_F(PortIo, WaitsForACharacterWithTheMaskSetBeforeTheWait) {
  platform.queueReports = {{true, 0}, {true, 1}};
  platform.input = {0x42};
  BYTE buffer[4] = {};
  EXPECT_EQ(port->readBytes(buffer, 4), 1);
  EXPECT_EQ(platform.calls, (Strings{"ClearCommError", "SetCommMask(1)", "WaitCommEvent(null)",
                                     "ClearCommError", "ReadFile(4)"}));
  EXPECT_EQ(buffer[0], 0x42);
}

TEST_F(PortIo, AQueueThatCannotBeAskedEndsTheReadWithoutReading) {
  platform.queueReports = {{false, 0}};
  BYTE buffer[4];
  EXPECT_EQ(port->readBytes(buffer, 4), -1);
  EXPECT_EQ(platform.calls, Strings{"ClearCommError"});

  platform.calls.clear();
  platform.queueReports = {{true, 0}, {false, 0}};
  EXPECT_EQ(port->readBytes(buffer, 4), -1);
  EXPECT_EQ(platform.calls.back(), "ClearCommError");
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "ReadFile(4)"), 0);
}

TEST_F(PortIo, ZeroBytesWaitsForInputAndLeavesItQueued) {
  platform.queueReports = {{true, 0}, {true, 1}};
  platform.input = {7};
  BYTE buffer[1] = {};
  EXPECT_EQ(port->readBytes(buffer, 0), 0);
  EXPECT_EQ(platform.calls.back(), "ReadFile(0)");
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "WaitCommEvent(null)"), 1);
  EXPECT_EQ(platform.input.size(), 1u);
}

TEST_F(PortIo, ReadsNoMoreThanAskedAndLeavesTheRestQueued) {
  platform.queueReports = {{true, 5}};
  platform.input = {1, 2, 3, 4, 5};
  BYTE buffer[2];
  EXPECT_EQ(port->readBytes(buffer, 2), 2);
  EXPECT_EQ(platform.input, (std::vector<BYTE>{3, 4, 5}));
}

TEST_F(PortIo, AFailedReadFileIsAFailedRead) {
  platform.queueReports = {{true, 1}};
  platform.readFails = true;
  BYTE buffer[1];
  EXPECT_EQ(port->readBytes(buffer, 1), -1);
}

Strings sleepsIn(const Strings &calls) {
  Strings sleeps;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(sleeps),
               [](const std::string &call) { return call.rfind("Sleep", 0) == 0; });
  return sleeps;
}

// Waits that fail, that succeed without reporting a character, or that report
// one the queue then does not hold (another reader took it, or the driver
// reports input it never hands out): none ends the read, and none is
// repeated at once.
TEST_F(PortIo, AWaitThatLeavesTheQueueEmptyBacksOffInsteadOfSpinningAndKeepsWaiting) {
  const struct {
    const char *kind;
    bool waitsWork;
    bool reportNoEvent;
  } waits[] = {{"failing waits", false, false},
               {"waits without an event", true, true},
               {"waits for a character that is gone", true, false}};
  for (const auto &wait : waits) {
    SCOPED_TRACE(wait.kind);
    // The queue, asked after each wait and each sleep, stays empty through
    // eight pauses, and a byte has arrived at the last look of the eighth.
    platform.calls.clear();
    platform.waitReportsNoEvent = wait.reportNoEvent;
    platform.waitResults.assign(8, wait.waitsWork);
    platform.queueReports.assign(35, {true, 0});
    platform.queueReports.push_back({true, 1});
    platform.input = {0x55};

    EXPECT_EQ(port->readByte(), 0x55);

    // Pauses of 1, 2, 4, 8, 16, 32, 64 and 100 ms between the waits, in
    // sleeps of at most 10 ms.
    EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "WaitCommEvent(null)"), 8);
    EXPECT_EQ(sleepsIn(platform.calls),
              (Strings{"Sleep(1)",  "Sleep(2)",  "Sleep(4)",  "Sleep(8)",  "Sleep(10)", "Sleep(6)",
                       "Sleep(10)", "Sleep(10)", "Sleep(10)", "Sleep(2)",  "Sleep(10)", "Sleep(10)",
                       "Sleep(10)", "Sleep(10)", "Sleep(10)", "Sleep(10)", "Sleep(4)",  "Sleep(10)",
                       "Sleep(10)", "Sleep(10)", "Sleep(10)", "Sleep(10)", "Sleep(10)", "Sleep(10)",
                       "Sleep(10)", "Sleep(10)", "Sleep(10)"}));
    // After every sleep the queue is asked at once, so a byte waits no longer
    // than one sleep.
    for (std::size_t i = 0; i + 1 < platform.calls.size(); ++i) {
      if (platform.calls[i].rfind("Sleep", 0) == 0) {
        EXPECT_EQ(platform.calls[i + 1], "ClearCommError") << "at call " << i;
      }
    }
  }
}

// Input counted but gone when read was taken by another reader of the device:
// the read waits again (after a pause, in case the count is a driver's fault).
TEST_F(PortIo, AReadThatFindsItsBytesTakenWaitsAgain) {
  platform.queueReports = {{true, 2}, {true, 0}, {true, 1}};
  platform.onCall = [&](const std::string &call) {
    if (call == "WaitCommEvent(null)") platform.input = {9};
  };
  BYTE buffer[4] = {};
  EXPECT_EQ(port->readBytes(buffer, 4), 1);
  EXPECT_EQ(platform.calls,
            (Strings{"ClearCommError", "ReadFile(4)", "Sleep(1)", "ClearCommError",
                     "SetCommMask(1)", "WaitCommEvent(null)", "ClearCommError", "ReadFile(4)"}));
  EXPECT_EQ(buffer[0], 9);
}

// Another thread cancels: while the read waits, between its mask and its
// wait, or while it pauses after a wait. A byte counted afterwards is left
// unread, and later writes send nothing, until a close that fails.
TEST_F(PortIo, ACancelEndsTheWaitingReadAndLaterReadsAndWritesUntilACloseFails) {
  const std::string cancel = "SetCommMask(0)", purge = "PurgeComm(3)";
  const struct {
    std::string at;
    Strings calls;
  } cancels[] = {{"WaitCommEvent(null)",
                  {"ClearCommError", "SetCommMask(1)", "WaitCommEvent(null)", cancel, purge}},
                 {"SetCommMask(1)", {"ClearCommError", "SetCommMask(1)", cancel, purge}},
                 {"Sleep(1)",
                  {"ClearCommError", "SetCommMask(1)", "WaitCommEvent(null)", "ClearCommError",
                   "Sleep(1)", cancel, purge}}};
  for (const auto &cancel : cancels) {
    SCOPED_TRACE(cancel.at);
    platform.calls.clear();
    platform.queueReports = {{true, 0}, {true, 0}};
    platform.onCall = [&](const std::string &call) {
      if (call == cancel.at) port->cancelIo();
    };
    BYTE buffer[4];
    EXPECT_EQ(port->readBytes(buffer, 4), -1);
    EXPECT_EQ(platform.calls, cancel.calls);

    platform.onCall = nullptr;
    platform.calls.clear();
    platform.queueReports = {{true, 1}, {true, 1}};
    platform.input = {7};
    EXPECT_EQ(port->readBytes(buffer, 4), -1);
    EXPECT_EQ(port->readByte(), -1);
    port->writeByte('x');
    EXPECT_EQ(port->writeBytes(buffer, 4), 0);
    EXPECT_TRUE(platform.calls.empty());

    platform.closeFails = true;
    EXPECT_FALSE(port->closePort());
    platform.closeFails = false;
    EXPECT_EQ(port->readByte(), 7);
    EXPECT_EQ(port->writeBytes(buffer, 4), 4);
  }
}

// The driver waits for the first byte (MAXDWORD, MAXDWORD, c) in the one
// ReadFile; the defaults are back after it whatever it brought. Once cancelled,
// the port asks the driver nothing more.
TEST_F(PortIo, ADeadlineReadWaitsInTheDriverAndPutsTheDefaultTimeoutsBack) {
  const COMMTIMEOUTS plans[] = {{MAXDWORD, MAXDWORD, 250, 10, 1000}, {MAXDWORD, 0, 0, 10, 1000}};
  const struct {
    const char *what;
    std::vector<BYTE> input;
    bool fails, cancelled;
    int result;
  } reads[] = {{"bytes in time", {5, 6}, false, false, 2},
               {"no byte in time", {}, false, false, 0},
               {"a failed read", {}, true, false, -1},
               {"a cancel during the wait", {}, false, true, -1}};
  for (const auto &read : reads) {
    SCOPED_TRACE(read.what);
    platform.calls.clear();
    platform.timeoutsSet.clear();
    platform.input = read.input;
    platform.readFails = read.fails;
    platform.onCall = [&](const std::string &call) {
      if (read.cancelled && call == "ReadFile(4)") port->cancelIo();
    };
    BYTE buffer[4] = {};
    EXPECT_EQ(port->readBytesWithin(buffer, 4, 250), read.result);
    EXPECT_EQ(buffer[1], read.result == 2 ? 6 : 0);
    EXPECT_EQ(platform.calls[1], "ReadFile(4)");
    EXPECT_EQ(platform.calls.back(), "SetCommTimeouts");
    ASSERT_EQ(platform.timeoutsSet.size(), 2u);
    EXPECT_EQ(std::memcmp(platform.timeoutsSet.data(), plans, sizeof plans), 0);
  }
  platform.onCall = nullptr;
  platform.calls.clear();
  EXPECT_EQ(port->readBytesWithin(nullptr, 4, 250), -1);
  EXPECT_TRUE(platform.calls.empty());
}

// No wait: the queue is counted first, and only what it holds is read. A
// closed port or nothing to read: the driver is not asked. Time-outs it
// refuses: no read.
TEST_F(PortIo, ADeadlineReadOfZeroOrNothingLeavesTheTimeoutsAlone) {
  BYTE buffer[2] = {};
  EXPECT_EQ(closedPort()->readBytesWithin(buffer, 2, 100), -1);
  platform.input = {1, 2, 3};
  platform.queueReports = {{true, 3}, {true, 0}, {false, 0}};
  EXPECT_EQ(port->readBytesWithin(buffer, 2, 0), 2);
  EXPECT_EQ(port->readBytesWithin(buffer, 2, 0), 0);
  EXPECT_EQ(port->readBytesWithin(buffer, 2, 0), -1) << "a queue that cannot be asked";
  EXPECT_EQ(port->readBytesWithin(buffer, 0, 100), 0);
  EXPECT_EQ(platform.calls,
            (Strings{"ClearCommError", "ReadFile(2)", "ClearCommError", "ClearCommError"}));
  platform.setTimeoutsFails = true;
  EXPECT_EQ(port->readBytesWithin(buffer, 2, MAXDWORD), -1);
  EXPECT_EQ(platform.calls.back(), "SetCommTimeouts");
  EXPECT_EQ(platform.timeoutsSet.back().ReadTotalTimeoutConstant, MAXDWORD - 1)
      << "MAXDWORD would mean no time-out at all";
}

TEST_F(PortIo, ReadByteReportsEachOutcomeWithItsOwnCode) {
  platform.queueReports = {{true, 1}};
  platform.input = {0xFF};
  EXPECT_EQ(port->readByte(), 255);  // unsigned, not -1

  platform.queueReports = {{false, 0}};
  EXPECT_EQ(port->readByte(), -1);

  platform.queueReports = {{true, 1}};
  platform.readFails = true;
  EXPECT_EQ(port->readByte(), -3);

  platform.readFails = false;
  platform.queueReports = {{true, 1}};
  platform.input.clear();
  EXPECT_EQ(port->readByte(), -1);

  platform.calls.clear();
  EXPECT_EQ(closedPort()->readByte(), -4);
  EXPECT_TRUE(platform.calls.empty());
}

TEST_F(PortIo, AClosedPortReadsAndCountsNothingWithoutAskingThePlatform) {
  auto closed = closedPort();
  BYTE buffer[4];
  EXPECT_EQ(closed->readBytes(buffer, 4), -1);
  EXPECT_EQ(closed->writeBytes(buffer, 4), -1);
  EXPECT_EQ(closed->bytesAvailable(), 0);
  EXPECT_FALSE(closed->setLineParams(9600, 8, ONESTOPBIT, NOPARITY));
  EXPECT_TRUE(platform.calls.empty());
}

TEST_F(PortIo, WritesTheLowEightBitsAsOneByte) {
  port->writeByte(0x1FF);
  port->writeByte(0x141);
  port->writeByte(-1);
  EXPECT_EQ(platform.written, (std::vector<BYTE>{0xFF, 0x41, 0xFF}));
  EXPECT_EQ(platform.calls, (Strings{"WriteFile(1)", "WriteFile(1)", "WriteFile(1)"}));
}

TEST_F(PortIo, AWriteToAClosedPortFailsQuietlyInThePlatform) {
  auto closed = closedPort();
  closed->writeByte('x');
  EXPECT_EQ(platform.calls, Strings{"WriteFile(1)"});
  EXPECT_TRUE(platform.written.empty());
  EXPECT_TRUE(platform.messages.empty());
}

// A time-out ends a write with success and fewer bytes, a device that goes
// away with failure after some: either way the count sent is the result.
TEST_F(PortIo, WriteBytesHandsTheFrameToOneWriteFileAndReturnsTheCountSent) {
  const BYTE frame[] = {0x01, 0x03, 0x00, 0xFF, 0x80};
  EXPECT_EQ(port->writeBytes(frame, 5), 5);
  EXPECT_EQ(port->writeBytes(frame, 0), 0);  // nothing to send, nothing asked
  platform.writeRoom = 3;
  EXPECT_EQ(port->writeBytes(frame, 5), 3);
  platform.writeFails = true;
  EXPECT_EQ(port->writeBytes(frame, 5), 3);
  EXPECT_EQ(platform.calls, (Strings{"WriteFile(5)", "WriteFile(5)", "WriteFile(5)"}));
  EXPECT_EQ(platform.written, (std::vector<BYTE>{1, 3, 0, 0xFF, 0x80, 1, 3, 0, 1, 3, 0}));
}

TEST_F(PortIo, CountsTheInputQueueAndZeroWhenItCannotBeAsked) {
  platform.queueReports = {{true, 17}, {false, 5}};
  EXPECT_EQ(port->bytesAvailable(), 17);
  EXPECT_EQ(port->bytesAvailable(), 0);
}

TEST_F(PortIo, LineParamsChangeTheFourValuesAndKeepEveryOtherSetting) {
  const DCB atOpen = platform.driverState;
  ASSERT_TRUE(port->setLineParams(115200, 7, TWOSTOPBITS, MARKPARITY));
  EXPECT_EQ(platform.calls, (Strings{"GetCommState(28)", "SetCommState"}));
  DCB expected = atOpen;
  expected.BaudRate = 115200;
  expected.ByteSize = 7;
  expected.StopBits = TWOSTOPBITS;
  expected.Parity = MARKPARITY;
  EXPECT_EQ(std::memcmp(&platform.statesSet.back(), &expected, sizeof(DCB)), 0);
  EXPECT_EQ(platform.statesSet.back().fDtrControl, DTR_CONTROL_ENABLE);
  EXPECT_EQ(platform.statesSet.back().fOutxCtsFlow, 0u);
}

TEST_F(PortIo, LineParamsReportARefusalAsFalseWithoutAMessage) {
  platform.setCommStateFails = true;
  EXPECT_FALSE(port->setLineParams(12345678, 8, ONESTOPBIT, NOPARITY));
  EXPECT_EQ(platform.statesSet.back().BaudRate, 12345678u);
  EXPECT_TRUE(platform.messages.empty());
}

}  // namespace
