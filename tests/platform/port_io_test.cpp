// ReadFile and WriteFile under the library's time-outs, on a pseudo-terminal.
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bounded_call.h"
#include "opened_port.h"
#include "thread_cpu_time.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class PortIo : public OpenedPort {
 protected:
  void useTimeouts(COMMTIMEOUTS timeouts) { ASSERT_TRUE(SetCommTimeouts(port, &timeouts)); }

  // A read that must end within limit; returns the bytes or fails the test.
  std::string readWithin(std::chrono::milliseconds limit, DWORD count, BOOL &result) {
    std::vector<char> buffer(count);
    DWORD got = 0;
    finishesWithin(
        limit, [&] { result = ReadFile(port, buffer.data(), count, &got, nullptr); },
        [&] { pty.closeMaster(); });
    return std::string(buffer.data(), got);
  }
};

}  // namespace

TEST_F(PortIo, ImmediateReadsReturnWhatIsBufferedAtMostCount) {
  BOOL result = FALSE;
  EXPECT_EQ(readWithin(2s, 16, result), "");
  EXPECT_TRUE(result);
  pty.send("0123456789");
  EXPECT_EQ(readWithin(2s, 4, result), "0123");
  EXPECT_EQ(readWithin(2s, 64, result), "456789");
}

// The line discipline holds 4 KiB; the kernel keeps what the driver received
// beyond that in buffers of its own and hands it on as the line discipline is
// read. A read that returns what is buffered takes all of it, up to count, as
// from a Win32 driver's larger input queue.
TEST_F(PortIo, ReadsOfWhatIsBufferedTakeAllTheKernelHasReceived) {
  std::string sent;  // as much as the non-blocking master takes, in numbered blocks
  for (std::string block(512, 'a'); sent.size() < 60000; ++block[0]) {
    const ssize_t n = write(pty.master(), block.data(), block.size());
    if (n <= 0) {
      break;
    }
    sent.append(block, 0, static_cast<std::size_t>(n));
  }
  ASSERT_GT(sent.size(), 8192u) << "the kernel took little more than n_tty holds";
  BOOL result = FALSE;
  const std::string got = readWithin(2s, 65536, result);
  EXPECT_TRUE(result);
  ASSERT_EQ(got.size(), sent.size()) << "one read took only part of what was received";
  EXPECT_TRUE(got == sent) << "the bytes came changed or out of order";
  EXPECT_EQ(readWithin(2s, 16, result), "") << "nothing more was sent";
}

// The master never reads: the kernel's buffers fill and the write gives up
// after its time-out with what it queued, as Win32 does; closing stays quick.
TEST_F(PortIo, WriteToAPeerThatNeverDrainsGivesUpAfterItsTimeout) {
  useTimeouts({MAXDWORD, 0, 0, 0, 200});
  const std::string lots(1 << 20, 'x');
  DWORD written = 0;
  BOOL result = FALSE;
  const auto start = Clock::now();
  finishesWithin(
      5s, [&] { result = WriteFile(port, lots.data(), lots.size(), &written, nullptr); },
      [&] { pty.closeMaster(); });
  EXPECT_TRUE(result);
  EXPECT_LT(written, lots.size());
  EXPECT_GE(Clock::now() - start, 190ms);
  EXPECT_TRUE(finishesWithin(
      5s, [&] { EXPECT_TRUE(CloseHandle(port)); }, [] {}));
  port = INVALID_HANDLE_VALUE;
}

// A write held by a peer that stops reading ends at PurgeComm's abort, with
// the count the device took, and exactly those bytes reach the peer. An abort
// that came before the write began does not end it.
TEST_F(PortIo, AnAbortEndsAHeldWriteWithTheCountThatGoesOut) {
  useTimeouts({MAXDWORD, 0, 0, 0, 60000});
  ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT));
  const std::string lots(1 << 20, 'x');
  DWORD written = 0;
  BOOL result = TRUE;
  BoundedCall write([&] { result = WriteFile(port, lots.data(), lots.size(), &written, nullptr); },
                    [&] { pty.closeMaster(); });
  EXPECT_FALSE(write.endsWithin(500ms)) << "an earlier abort ended the write";
  ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT));
  ASSERT_TRUE(write.endsWithin(10s)) << "the abort did not end the held write";
  EXPECT_FALSE(result);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, lots.size());
  EXPECT_EQ(pty.receive(written, 10s).size(), written);
  EXPECT_EQ(pty.receive(1, 200ms), "") << "more went out than the count says";
}

// Under the read time-outs MAXDWORD, MAXDWORD, c a read takes what is
// buffered at once; with nothing buffered it waits asleep up to c ms for a
// first byte, and succeeds with nothing once the time is up.
TEST_F(PortIo, AReadWaitsForItsFirstByteUpToTheReadTimeout) {
  useTimeouts({MAXDWORD, MAXDWORD, 300, 0, 0});
  pty.send("ab");
  BOOL result = FALSE;
  EXPECT_EQ(readWithin(5s, 16, result), "ab");
  const auto start = Clock::now();
  EXPECT_EQ(readWithin(10s, 16, result), "");
  EXPECT_TRUE(result) << "a read whose time ran out succeeds with nothing";
  EXPECT_GE(Clock::now() - start, 290ms);

  useTimeouts({MAXDWORD, MAXDWORD, 30000, 0, 0});
  std::chrono::nanoseconds readCpu{};
  BoundedCall read(
      [&] {
        const auto cpuBefore = threadCpuTime();
        EXPECT_EQ(readWithin(20s, 16, result), "xyz");
        readCpu = threadCpuTime() - cpuBefore;
      },
      [] {});
  EXPECT_FALSE(read.endsWithin(500ms)) << "the read returned with nothing to read";
  ASSERT_EQ(write(pty.master(), "xyz", 3), 3);  // pty.send() would wait for them to be queued
  ASSERT_TRUE(read.endsWithin(10s)) << "the bytes did not end the wait";
  EXPECT_LT(readCpu, 100ms) << "the wait spun instead of sleeping";
}

// PurgeComm's abort ends a waiting read (ECANCELED); one that came before the
// read began does not. A device that goes ends it too (EIO).
TEST_F(PortIo, AnAbortOrAGoneDeviceEndsAReadWaitingForItsFirstByte) {
  useTimeouts({MAXDWORD, MAXDWORD, 60000, 0, 0});
  ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT));
  for (const int end : {ECANCELED, EIO}) {
    BOOL result = TRUE;
    int error = 0;
    DWORD got = 0;
    char buffer[8];
    BoundedCall read(
        [&] {
          result = ReadFile(port, buffer, sizeof buffer, &got, nullptr);
          error = errno;
        },
        [&] { pty.closeMaster(); });
    EXPECT_FALSE(read.endsWithin(500ms)) << "the read did not wait";
    end == EIO ? pty.closeMaster() : static_cast<void>(PurgeComm(port, PURGE_RXABORT));
    ASSERT_TRUE(read.endsWithin(10s)) << "the read went on waiting";
    EXPECT_FALSE(result);
    EXPECT_EQ(error, end);
    EXPECT_EQ(got, 0u);
  }
}

// Another program may set VMIN to 0 on the device (its settings are shared by
// all who open it): a read of an empty tty then returns 0 bytes, which says
// nothing of the device being gone.
TEST_F(PortIo, AReadOfNothingWithVminZeroLeavesTheDeviceLive) {
  termios shared{};
  ASSERT_EQ(tcgetattr(pty.slave(), &shared), 0);
  shared.c_cc[VMIN] = 0;
  ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &shared), 0);
  BOOL result = FALSE;
  EXPECT_EQ(readWithin(2s, 16, result), "");
  EXPECT_TRUE(result);
  pty.send("x");
  EXPECT_EQ(readWithin(2s, 16, result), "x");
}

TEST_F(PortIo, AGoneDeviceFailsReadsAndWrites) {
  pty.send("last");
  pty.closeMaster();
  BOOL result = TRUE;
  DWORD count = 0;
  char buffer[8];
  readWithin(2s, 8, result);
  EXPECT_FALSE(result);
  EXPECT_FALSE(ReadFile(port, buffer, 8, &count, nullptr));
  EXPECT_FALSE(WriteFile(port, "x", 1, &count, nullptr));
}
