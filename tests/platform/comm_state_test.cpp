// The comm state and escape functions on a pseudo-terminal: what the kernel
// holds, what GetCommState reports, and that a refusal changes nothing.
#include <termios.h>

#include <cerrno>

#include <utility>

#include <gtest/gtest.h>

#include "opened_port.h"
#include "termios_probe.h"

namespace {

class CommState : public OpenedPort {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OpenedPort::SetUp());
    ASSERT_TRUE(GetCommState(port, &dcb));
  }

  DCB dcb{};
};

}  // namespace

// A pty has no line: the kernel keeps 8 data bits and no parity whatever is
// asked, but holds speed and stop bits, and GetCommState reports the request.
TEST_F(CommState, PseudoTerminalAcceptsEveryFramingAndHoldsSpeedAndStopBits) {
  if (!hasTermios2(pty.slave())) GTEST_SKIP() << kNeedsTermios2;
  for (BYTE size = 5; size <= 8; ++size) {
    for (BYTE parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
      for (BYTE stop : {ONESTOPBIT, size == 5 ? ONE5STOPBITS : TWOSTOPBITS}) {
        SCOPED_TRACE(testing::Message() << int{size} << int{parity} << int{stop});
        DCB wanted = dcb;
        wanted.BaudRate = size == 6 ? 250000 : 57600;  // one rate through BOTHER
        wanted.ByteSize = size;
        wanted.Parity = parity;
        wanted.StopBits = stop;
        ASSERT_TRUE(SetCommState(port, &wanted));
        DCB reported{};
        ASSERT_TRUE(GetCommState(port, &reported));
        EXPECT_TRUE(sameBytes(reported, wanted));
        const TtySettings t = ttySettingsOf(pty.slave());
        EXPECT_EQ(t.c_ospeed, wanted.BaudRate);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop != ONESTOPBIT);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), CS8);
      }
    }
  }
}

// A rate with a code of its own is set by it, as programs of <termios.h>
// (stty) read it; any other travels as the rate itself (above).
TEST_F(CommState, StandardRatesReachTheKernelByTheirCode) {
  const std::pair<DWORD, speed_t> rates[] = {{110, B110}, {9600, B9600}, {115200, B115200}};
  for (const auto &[rate, code] : rates) {
    DCB wanted = dcb;
    wanted.BaudRate = rate;
    ASSERT_TRUE(SetCommState(port, &wanted));
    termios seen{};
    ASSERT_EQ(tcgetattr(pty.slave(), &seen), 0);
    EXPECT_EQ(cfgetospeed(&seen), code) << rate;
  }
}

TEST_F(CommState, WhatCannotBeHonouredFailsAndChangesNothing) {
  DCB known = dcb;
  known.BaudRate = 4800;
  known.ByteSize = 7;
  known.Parity = EVENPARITY;
  ASSERT_TRUE(SetCommState(port, &known));

  DCB refused[4] = {known, known, known, known};
  refused[0].ByteSize = 8, refused[0].StopBits = ONE5STOPBITS, refused[0].BaudRate = 9600;
  refused[1].ByteSize = 5, refused[1].StopBits = TWOSTOPBITS;
  refused[2].Parity = 7, refused[2].BaudRate = 19200;
  refused[3].fOutxDsrFlow = 1;
  for (const DCB &wanted : refused) {
    expectRefusedWithoutATrace(wanted);
  }
}

// Reads return at once with what is buffered; writes may have any limit.
// Reads that return at once, and reads that wait a while for a first byte.
TEST_F(CommState, TimeoutsAreKeptAndOnlyTheTwoReadPlansAreTaken) {
  COMMTIMEOUTS waiting{MAXDWORD, MAXDWORD, 1, 8, 9};
  ASSERT_TRUE(SetCommTimeouts(port, &waiting));
  COMMTIMEOUTS wanted{MAXDWORD, 0, 0, 8, 9};
  ASSERT_TRUE(SetCommTimeouts(port, &wanted));
  for (COMMTIMEOUTS refused :
       {COMMTIMEOUTS{0, 0, 0, 0, 0}, COMMTIMEOUTS{MAXDWORD, MAXDWORD, 0, 0, 0},
        COMMTIMEOUTS{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0}, COMMTIMEOUTS{MAXDWORD, 5, 100, 0, 0},
        COMMTIMEOUTS{MAXDWORD, 0, 100, 0, 0}, COMMTIMEOUTS{50, MAXDWORD, 100, 0, 0}}) {
    EXPECT_FALSE(SetCommTimeouts(port, &refused));
    EXPECT_EQ(errno, EINVAL);
  }
  COMMTIMEOUTS reported{};
  ASSERT_TRUE(GetCommTimeouts(port, &reported));
  EXPECT_TRUE(sameBytes(reported, wanted));
  ASSERT_TRUE(SetCommTimeouts(port, &waiting));
  ASSERT_TRUE(GetCommTimeouts(port, &reported));
  EXPECT_TRUE(sameBytes(reported, waiting));
}

// A pty has no modem lines to raise; nothing else is an escape function here.
TEST_F(CommState, EscapeFunctionsOnAPseudoTerminal) {
  EXPECT_FALSE(EscapeCommFunction(port, SETDTR));
  EXPECT_FALSE(EscapeCommFunction(port, SETRTS));
  EXPECT_FALSE(EscapeCommFunction(port, 6));  // CLRDTR
  EXPECT_EQ(errno, EINVAL);
}
