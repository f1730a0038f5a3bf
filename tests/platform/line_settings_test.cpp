// The rates an 8250-family UART makes from its clock, without a device (the
// drivers themselves are in tests/realdrv).
#include <gtest/gtest.h>
#include <linux/tty_flags.h>

#include "platform/posix/linux/line_settings.h"

using tarvesk_linux::UartClock;
using tarvesk_linux::uartMakesRate;

TEST(LineSettings, UartRateWithinOnePercentOfTheNearestDivisor) {
  const UartClock pc{115200, 0};  // the PC's 1.8432 MHz crystal
  for (unsigned int rate : {50u, 300u, 9600u, 38400u, 57600u, 115200u}) {
    EXPECT_TRUE(uartMakesRate(pc, rate)) << rate;
  }
  EXPECT_FALSE(uartMakesRate(pc, 31250)) << "divisor 4: 28,800";
  EXPECT_TRUE(uartMakesRate(pc, 116000)) << "divisor 1: 0.7 % off";
  EXPECT_FALSE(uartMakesRate(pc, 117000)) << "divisor 1: 1.5 % off";
  EXPECT_FALSE(uartMakesRate(pc, 250000)) << "no divisor below 1";
  EXPECT_FALSE(uartMakesRate(pc, 1)) << "divisor above 16 bits";
  EXPECT_TRUE(uartMakesRate(UartClock{3000000, 0}, 31250)) << "divisor 96";
  EXPECT_FALSE(uartMakesRate(UartClock{921600, 0}, 31250)) << "divisor 29: 1.7 % off";
}

TEST(LineSettings, Uart38400IsRefusedWhereSetserialAliasesIt) {
  EXPECT_FALSE(uartMakesRate(UartClock{115200, ASYNC_SPD_HI}, 38400));
  EXPECT_FALSE(uartMakesRate(UartClock{115200, ASYNC_SPD_CUST}, 38400));
  EXPECT_TRUE(uartMakesRate(UartClock{115200, ASYNC_SPD_HI}, 19200));
}

TEST(LineSettings, UartMagicMultiplierMakesTwiceAndFourTimesTheBase) {
  const UartClock smsc{115200, ASYNC_MAGIC_MULTIPLIER};
  EXPECT_TRUE(uartMakesRate(smsc, 230400));
  EXPECT_TRUE(uartMakesRate(smsc, 460800));
  EXPECT_FALSE(uartMakesRate(smsc, 345600));
  EXPECT_FALSE(uartMakesRate(UartClock{115200, 0}, 230400));
}
