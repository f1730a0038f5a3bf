// The pure DCB <-> termios mapping: every framing value, without a device.
#include <gtest/gtest.h>

#include "platform/posix/linux/line_settings.h"
#include "platform/posix/win32_calls/dcb_termios.h"
#include "serial/native_serial_port.h"

using tarvesk_linux::TtySettings;
using tarvesk_win32_calls::dcbForTtySettings;
using tarvesk_win32_calls::ttySettingsForDcb;

namespace {

// What the library opens a port with.
DCB plainDcb() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  NativeSerialPort::setDefaultCommState(dcb);
  return dcb;
}

// A terminal as a login shell leaves it: cooked, echoing, 7E1 at 19200 with
// parity checked.
TtySettings cookedTtySettings() {
  TtySettings t{};
  t.c_iflag = ICRNL | IXON | IMAXBEL | BRKINT | INPCK;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  t.c_cflag = CS7 | PARENB | HUPCL;
  t.c_ispeed = t.c_ospeed = 19200;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 5;
  return t;
}

}  // namespace

TEST(DcbTermios, EveryDataBitsParityAndStopBitsValue) {
  for (BYTE size = 5; size <= 8; ++size) {
    for (BYTE parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
      for (BYTE stop = ONESTOPBIT; stop <= TWOSTOPBITS; ++stop) {
        SCOPED_TRACE(testing::Message() << int{size} << " bits, parity " << int{parity}
                                        << ", stop code " << int{stop});
        DCB dcb = plainDcb();
        dcb.ByteSize = size;
        dcb.Parity = parity;
        dcb.StopBits = stop;
        dcb.fParity = 1;
        const auto t = ttySettingsForDcb(dcb, cookedTtySettings());
        const bool possible = stop == ONESTOPBIT || (stop == ONE5STOPBITS) == (size == 5);
        ASSERT_EQ(t.has_value(), possible);
        if (!possible) continue;
        const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        EXPECT_EQ(t->c_cflag & CSIZE, sizes[size - 5]);
        EXPECT_EQ((t->c_cflag & PARENB) != 0, parity != NOPARITY);
        EXPECT_EQ((t->c_cflag & CMSPAR) != 0, parity == MARKPARITY || parity == SPACEPARITY);
        EXPECT_EQ((t->c_cflag & PARODD) != 0, parity == ODDPARITY || parity == MARKPARITY);
        EXPECT_EQ((t->c_cflag & CSTOPB) != 0, stop != ONESTOPBIT);
        // A byte with a parity error is delivered as received: not checked, marked or stripped.
        EXPECT_EQ(t->c_iflag & (INPCK | PARMRK | ISTRIP), 0u);
        const DCB back = dcbForTtySettings(*t, true, true);
        EXPECT_EQ(back.ByteSize, size);
        EXPECT_EQ(back.Parity, parity);
        EXPECT_EQ(back.StopBits, stop);
      }
    }
  }
}

TEST(DcbTermios, LeavingMarkOrSpaceParityClearsCmspar) {
  TtySettings mark = cookedTtySettings();
  mark.c_cflag |= PARENB | PARODD | CMSPAR;
  DCB dcb = plainDcb();
  for (BYTE parity : {NOPARITY, EVENPARITY, ODDPARITY}) {
    dcb.Parity = parity;
    const auto t = ttySettingsForDcb(dcb, mark);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->c_cflag & CMSPAR, 0u) << "parity " << int{parity};
  }
}

TEST(DcbTermios, AnyRateBothWays) {
  DCB dcb = plainDcb();
  for (DWORD rate : {110, 115200, 14400, 250000}) {
    dcb.BaudRate = rate;
    const auto t = ttySettingsForDcb(dcb, cookedTtySettings());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->c_ospeed, rate);
    EXPECT_EQ(t->c_ispeed, rate);
    EXPECT_EQ(dcbForTtySettings(*t, true, true).BaudRate, rate);
  }
}

TEST(DcbTermios, RawModeKeepsSpeedFramingAndTheRest) {
  const TtySettings raw = tarvesk_linux::rawTtySettings(cookedTtySettings());
  EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(raw.c_oflag & OPOST, 0u);
  EXPECT_EQ(raw.c_iflag & (ICRNL | IXON | BRKINT | IMAXBEL | INPCK), 0u);
  EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
  EXPECT_EQ(raw.c_cflag & (CSIZE | PARENB | HUPCL), CS7 | PARENB | HUPCL);
  EXPECT_EQ(raw.c_ospeed, 19200u);
  EXPECT_EQ(raw.c_cc[VMIN], 1);
  EXPECT_EQ(raw.c_cc[VTIME], 0);
  const DCB dcb = dcbForTtySettings(raw, true, false);
  EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_DISABLE);
}

TEST(DcbTermios, RefusesWhatLinuxCannotHonour) {
  const std::pair<const char *, void (*)(DCB &)> refused[] = {
      {"not binary", [](DCB &d) { d.fBinary = 0; }},
      {"rate 0", [](DCB &d) { d.BaudRate = 0; }},
      {"rate 2^31, Java's most negative int", [](DCB &d) { d.BaudRate = 0x80000000u; }},
      {"rate 2^32 - 5, Java's -5", [](DCB &d) { d.BaudRate = 0xFFFFFFFBu; }},
      {"4 data bits", [](DCB &d) { d.ByteSize = 4; }},
      {"9 data bits", [](DCB &d) { d.ByteSize = 9; }},
      {"parity code 5", [](DCB &d) { d.Parity = 5; }},
      {"parity code 7", [](DCB &d) { d.Parity = 7; }},
      {"stop code 3", [](DCB &d) { d.StopBits = 3; }},
      {"CTS flow", [](DCB &d) { d.fOutxCtsFlow = 1; }},
      {"DSR flow", [](DCB &d) { d.fOutxDsrFlow = 1; }},
      {"DSR sensitivity", [](DCB &d) { d.fDsrSensitivity = 1; }},
      {"DTR off", [](DCB &d) { d.fDtrControl = DTR_CONTROL_DISABLE; }},
      {"RTS off", [](DCB &d) { d.fRtsControl = RTS_CONTROL_DISABLE; }},
      {"RTS handshake", [](DCB &d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }},
      {"XON/XOFF on output", [](DCB &d) { d.fOutX = 1; }},
      {"XON/XOFF on input", [](DCB &d) { d.fInX = 1; }},
      {"error char", [](DCB &d) { d.fErrorChar = 1; }},
      {"null stripping", [](DCB &d) { d.fNull = 1; }},
      {"abort on error", [](DCB &d) { d.fAbortOnError = 1; }},
  };
  for (const auto &[what, change] : refused) {
    DCB dcb = plainDcb();
    change(dcb);
    EXPECT_FALSE(ttySettingsForDcb(dcb, cookedTtySettings())) << what;
  }
  DCB dcb = plainDcb();
  dcb.XonChar = dcb.XoffChar;  // harmless while XON/XOFF is off
  dcb.fTXContinueOnXoff = 0;
  const auto t = ttySettingsForDcb(dcb, cookedTtySettings());
  ASSERT_TRUE(t);
  EXPECT_EQ(t->c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t->c_iflag & (IXON | IXOFF), 0u);
  dcb.BaudRate = 0x7FFFFFFF;
  EXPECT_TRUE(ttySettingsForDcb(dcb, cookedTtySettings()));
}

// A handshake the device holds (as GetCommState reports it when the
// library's settings were refused at open) is kept while the line params
// change; one it does not hold is still refused.
TEST(DcbTermios, AHandshakeTheDeviceHoldsIsKeptNeverTurnedOn) {
  TtySettings ctsRts = cookedTtySettings();
  ctsRts.c_cflag |= CRTSCTS;
  const struct {
    TtySettings device;
    bool dtrOn, rtsOn;
  } held[] = {{ctsRts, true, true}, {cookedTtySettings(), false, false}};
  for (const auto &[device, dtrOn, rtsOn] : held) {
    DCB dcb = dcbForTtySettings(device, dtrOn, rtsOn);
    dcb.BaudRate = 57600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    const auto t = ttySettingsForDcb(dcb, device, dtrOn, rtsOn);
    ASSERT_TRUE(t) << "DTR " << dtrOn;
    EXPECT_EQ(t->c_cflag & (CRTSCTS | CSIZE | PARENB), (device.c_cflag & CRTSCTS) | CS8);
    EXPECT_EQ(t->c_ospeed, 57600u);
    EXPECT_FALSE(ttySettingsForDcb(dcb, cookedTtySettings(), true, true))
        << "not held: DTR " << dtrOn;
  }
}
