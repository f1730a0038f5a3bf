// A driver that refuses a baud rate, or takes it and silently runs at another
// (a UART whose clock cannot make it): SetCommState fails, and the device and
// GetCommState stay exactly as they were. Never a silent approximation.
#include <sys/stat.h>

#include <functional>

#include <gtest/gtest.h>

#include "device_seams.h"
#include "opened_port.h"
#include "termios_probe.h"

namespace {

class DriverRefusal : public OpenedPort {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OpenedPort::SetUp());
    struct stat status {};
    ASSERT_EQ(fstat(pty.slave(), &status), 0);
    device = status.st_rdev;
    // A state of its own to come back to: 4800 7E1.
    ASSERT_TRUE(GetCommState(port, &known));
    known.BaudRate = 4800;
    known.ByteSize = 7;
    known.Parity = EVENPARITY;
    ASSERT_TRUE(SetCommState(port, &known));
  }
  void TearDown() override {
    device_seams::restore();
    OpenedPort::TearDown();
  }

  // Each wanted DCB fails while the driver misbehaves on its rate, changing
  // nothing, and is taken once the driver behaves.
  void expectRefusedWhileTheDriverMisbehaves(const std::function<void(DWORD rate)> &misbehave) {
    DCB wanted[3] = {known, known, known};
    wanted[0].BaudRate = 250000;  // through BOTHER
    wanted[1].BaudRate = 115200;  // a standard rate
    wanted[1].ByteSize = 8;
    wanted[1].Parity = NOPARITY;
    wanted[2].BaudRate = 31250;  // with framing a pseudo-terminal cannot hold
    wanted[2].ByteSize = 5;
    wanted[2].StopBits = ONE5STOPBITS;
    wanted[2].Parity = MARKPARITY;
    for (DCB &dcb : wanted) {
      SCOPED_TRACE(testing::Message() << "rate " << dcb.BaudRate);
      misbehave(dcb.BaudRate);
      expectRefusedWithoutATrace(dcb);

      device_seams::restore();
      EXPECT_TRUE(SetCommState(port, &dcb)) << "the rate alone was the reason";
      EXPECT_EQ(ttySettingsOf(pty.slave()).c_ospeed, dcb.BaudRate);
      ASSERT_TRUE(SetCommState(port, &known));
    }
  }

  dev_t device = 0;
  DCB known{};
};

}  // namespace

TEST_F(DriverRefusal, ARateTheDriverRefusesFailsAndChangesNothing) {
  expectRefusedWhileTheDriverMisbehaves(
      [this](DWORD rate) { device_seams::refuseRate(device, pty.slave(), rate); });
}

TEST_F(DriverRefusal, ARateTheDriverWouldApproximateFailsAndChangesNothing) {
  expectRefusedWhileTheDriverMisbehaves([this](DWORD rate) {
    device_seams::approximateRate(device, pty.slave(), rate, rate - rate / 50);  // 2 % off
  });
}

// A kernel without termios2, as under qemu-user: the port opens, takes the
// standard rates (and framing) through the classic requests, and refuses any
// other rate without a trace rather than run at something near it.
TEST_F(DriverRefusal, WithoutTermios2StandardRatesAreTakenAndOthersRefused) {
  ASSERT_TRUE(CloseHandle(port));
  device_seams::lackTermios2(device, pty.slave());
  port = openLikeTheLibrary(pty.slaveName());
  ASSERT_NE(port, INVALID_HANDLE_VALUE);

  DCB taken = known;
  for (DWORD rate : {DWORD{50}, DWORD{115200}, DWORD{4000000}}) {
    SCOPED_TRACE(testing::Message() << "rate " << rate);
    taken.BaudRate = rate;
    ASSERT_TRUE(SetCommState(port, &taken));
    const TtySettings held = ttySettingsOf(pty.slave());
    EXPECT_EQ(held.c_ospeed, rate);
    EXPECT_EQ(held.c_ispeed, rate);
    DCB reported{};
    ASSERT_TRUE(GetCommState(port, &reported));
    EXPECT_TRUE(sameBytes(reported, taken));
  }

  for (DWORD rate : {DWORD{250000}, DWORD{14400}}) {
    SCOPED_TRACE(testing::Message() << "rate " << rate);
    DCB wanted = taken;
    wanted.BaudRate = rate;
    expectRefusedWithoutATrace(wanted);
  }
}
