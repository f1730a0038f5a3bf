// Waiting for input: WaitCommEvent sleeps until a byte comes or the device is
// gone, and ClearCommError tells the two apart.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bounded_call.h"
#include "opened_port.h"
#include "serial/native_serial_port.h"
#include "thread_cpu_time.h"

namespace {

using namespace std::chrono_literals;

class CommEvents : public OpenedPort {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OpenedPort::SetUp());
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  }
};

}  // namespace

TEST_F(CommEvents, WaitSleepsUntilAByteArrives) {
  std::atomic<bool> returned{false};
  DWORD events = 0;
  BOOL result = FALSE;
  std::chrono::nanoseconds waitCpu{};
  std::thread trigger([&] {
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(returned) << "the wait returned with nothing queued";
    pty.send("!");
  });
  finishesWithin(
      5s,
      [&] {
        const auto cpuBefore = threadCpuTime();
        result = WaitCommEvent(port, &events, nullptr);
        waitCpu = threadCpuTime() - cpuBefore;
        returned = true;
      },
      [&] { pty.closeMaster(); });
  trigger.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(events, EV_RXCHAR);
  EXPECT_LT(waitCpu, 100ms) << "the wait spun instead of sleeping";
  DWORD errors = 99;
  COMSTAT status{};
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(status.cbInQue, 1u);
  EXPECT_EQ(errors, 0u);
}

TEST_F(CommEvents, ClosingThePeerEndsTheWaitAndClearCommErrorThenFails) {
  BOOL result = FALSE;
  std::thread closer([&] {
    std::this_thread::sleep_for(100ms);
    pty.closeMaster();
  });
  DWORD events = 0;
  finishesWithin(
      5s, [&] { result = WaitCommEvent(port, &events, nullptr); }, [] {});
  closer.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(events, 0u);
  DWORD errors = 0;
  COMSTAT status{};
  EXPECT_FALSE(ClearCommError(port, &errors, &status));
}

// Input is counted as soon as the far end has written it, although the kernel
// hands it on to the line discipline a moment later, on whichever CPU: a
// reader that asks at once reads it at once instead of waiting for it.
TEST_F(CommEvents, ClearCommErrorCountsInputTheKernelIsStillHandingOver) {
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(write(pty.master(), "abc", 3), 3);
    DWORD errors = 0;
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(port, &errors, &status));
    ASSERT_EQ(status.cbInQue, 3u) << "after " << i << " writes counted at once";
    BYTE input[4];
    DWORD count = 0;
    ASSERT_TRUE(ReadFile(port, input, sizeof input, &count, nullptr));
    ASSERT_EQ(count, 3u);
  }
}

// The whole reader of the library: blocked in its wait, it returns -1 when the
// peer goes away instead of spinning.
TEST(CommEventsInTheLibrary, ABlockedReadEndsWhenThePeerCloses) {
  PseudoTerminal pty;
  NativeSerialPort port(pty.slaveName().c_str());
  ASSERT_TRUE(port.isOpen());
  BYTE buffer[4];
  int result = 0;
  std::thread closer([&] {
    std::this_thread::sleep_for(100ms);
    pty.closeMaster();
  });
  finishesWithin(
      5s, [&] { result = port.readBytes(buffer, 4); }, [] {});
  closer.join();
  EXPECT_EQ(result, -1);
}

// As on Win32: SetCommMask from another thread ends a wait in progress, with
// no event; one made before a wait begins does not end it.
TEST_F(CommEvents, SetCommMaskEndsAWaitInProgressOnly) {
  BOOL result = FALSE;
  DWORD events = 99;
  BoundedCall wait([&] { result = WaitCommEvent(port, &events, nullptr); },
                   [&] { pty.closeMaster(); });
  // Until the wait is surely under way.
  for (int tries = 0; tries < 50 && !wait.endsWithin(100ms); ++tries) {
    ASSERT_TRUE(SetCommMask(port, 0));
  }
  ASSERT_TRUE(wait.endsWithin(0s)) << "SetCommMask did not end the wait";
  EXPECT_TRUE(result);
  EXPECT_EQ(events, 0u);

  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  BoundedCall next([&] { result = WaitCommEvent(port, &events, nullptr); },
                   [&] { pty.closeMaster(); });
  EXPECT_FALSE(next.endsWithin(200ms)) << "a wait ended by a change made before it began";
  pty.send("!");
  ASSERT_TRUE(next.endsWithin(5s));
  EXPECT_EQ(events, DWORD{EV_RXCHAR});
}

TEST_F(CommEvents, OnlyReceivedCharactersCanBeWaitedFor) {
  EXPECT_FALSE(SetCommMask(port, EV_RXCHAR | 0x0008));
  ASSERT_TRUE(SetCommMask(port, 0));
  DWORD events = 0;
  EXPECT_FALSE(WaitCommEvent(port, &events, nullptr)) << "nothing to wait for";
}

// poll(), not select(): a device on a descriptor above 1023 works like any other.
TEST(CommEventsOnHighDescriptors, WaitAndReadWorkAbove1023) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < 1100) GTEST_SKIP() << "cannot have 1100 descriptors here";
  const rlimit wider{std::max<rlim_t>(limit.rlim_cur, 1100), limit.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &wider), 0);
  std::vector<int> filler;
  for (int fd = open("/dev/null", O_RDONLY); fd >= 0 && fd < 1030; fd = dup(fd)) {
    filler.push_back(fd);
  }
  PseudoTerminal pty;
  HANDLE port = openLikeTheLibrary(pty.slaveName());
  for (int fd : filler) close(fd);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_GT(pty.slave(), 1023);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  std::thread sender([&] {
    std::this_thread::sleep_for(50ms);
    pty.send("h");
  });
  DWORD events = 0;
  finishesWithin(
      5s, [&] { EXPECT_TRUE(WaitCommEvent(port, &events, nullptr)); }, [&] { pty.closeMaster(); });
  sender.join();
  char byte = 0;
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(port, &byte, 1, &got, nullptr));
  EXPECT_EQ(byte, 'h');
  CloseHandle(port);
  setrlimit(RLIMIT_NOFILE, &limit);
}
