// Settings round trip on a pseudo-terminal, over thousands of generated
// records (a fixed seed, so every run checks the same ones): SetCommState
// either refuses a DCB and leaves the device and GetCommState exactly as they
// were, or takes it, and then GetCommState gives back exactly the DCB asked
// for and the kernel holds every value a pseudo-terminal can hold.
//
// "Exactly": byte for byte, except DCBlength, which GetCommState always sets
// to sizeof(DCB) as Win32 does. Fields of no use without flow control or
// error characters (fTXContinueOnXoff, XonLim, XoffLim, XonChar, XoffChar,
// ErrorChar, EofChar, EvtChar, the reserved ones) are kept as given. A pseudo-terminal has no line,
// so its kernel settings keep 8 data bits and no parity whatever is asked; the record keeps the
// request.
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "opened_port.h"
#include "termios_probe.h"

namespace {

constexpr int kCases = 10000;

// Without termios2 only the rates the kernel has a code for can be set, and
// under qemu-user 7.2 only those up to 460800: it passes B0 for any higher
// code, which the layer sees in the read-back and refuses.
bool settableWithoutTermios2(DWORD rate) {
  static constexpr DWORD kStandard[] = {50,    75,    110,    134,    150,   200,  300,
                                        600,   1200,  1800,   2400,   4800,  9600, 19200,
                                        38400, 57600, 115200, 230400, 460800};
  return std::find(std::begin(kStandard), std::end(kStandard), rate) != std::end(kStandard);
}

// What the Linux layer promises to take: everything it can carry out
// exactly, and nothing it would have to approximate.
bool honourable(const DCB &d, bool anyRate) {
  const bool stopBits = d.StopBits == ONESTOPBIT ||
                        (d.StopBits == ONE5STOPBITS && d.ByteSize == 5) ||
                        (d.StopBits == TWOSTOPBITS && d.ByteSize != 5);
  const bool framing = d.ByteSize >= 5 && d.ByteSize <= 8 && d.Parity <= SPACEPARITY && stopBits;
  const bool noFlowControl = !d.fOutxCtsFlow && !d.fOutxDsrFlow && !d.fDsrSensitivity &&
                             d.fDtrControl == DTR_CONTROL_ENABLE &&
                             d.fRtsControl == RTS_CONTROL_ENABLE && !d.fOutX && !d.fInX;
  return d.fBinary && d.BaudRate != 0 && d.BaudRate <= 0x7FFFFFFF &&
         (anyRate || settableWithoutTermios2(d.BaudRate)) && framing && noFlowControl &&
         !d.fErrorChar && !d.fNull && !d.fAbortOnError;
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  std::uint32_t next() { return random_(); }
  std::uint32_t below(std::uint32_t n) { return next() % n; }
  bool coin() { return (next() & 1) != 0; }

  // A record the layer should take: a rate from the kernel's list or any
  // other, a possible framing, no flow control.
  DCB honourableDcb() {
    static constexpr DWORD kRates[] = {50,    110,    300,    1200,    9600,    19200,
                                       57600, 115200, 230400, 460800,  921600,  1000000,
                                       14400, 28800,  250000, 3000000, 4000000, 7};
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = coin() ? kRates[below(std::size(kRates))] : 1 + below(4'000'000);
    d.fBinary = 1;
    d.fParity = coin();
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fTXContinueOnXoff = coin();
    d.fDummy2 = next();
    d.wReserved = static_cast<WORD>(next());
    d.XonLim = static_cast<WORD>(next());
    d.XoffLim = static_cast<WORD>(next());
    d.ByteSize = static_cast<BYTE>(5 + below(4));
    d.Parity = static_cast<BYTE>(below(5));
    d.StopBits = coin() ? ONESTOPBIT : (d.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS);
    d.XonChar = static_cast<char>(next());
    d.XoffChar = static_cast<char>(next());
    d.ErrorChar = static_cast<char>(next());
    d.EofChar = static_cast<char>(next());
    d.EvtChar = static_cast<char>(next());
    d.wReserved1 = static_cast<WORD>(next());
    return d;
  }

  // Sets one field, any field, to any value its width allows; most of them
  // are invalid for most fields. A field with codes gets one just past the
  // valid ones half the time.
  void scramble(DCB &d) {
    using Set = void (*)(DCB &, std::uint32_t);
    struct Field {
      Set set;
      bool hasCodes;
    };
    static constexpr Field kFields[] = {
        {[](DCB &d, std::uint32_t v) { d.DCBlength = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.BaudRate = v; }, true},
        {[](DCB &d, std::uint32_t v) { d.fBinary = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fParity = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fOutxCtsFlow = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fOutxDsrFlow = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fDtrControl = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fDsrSensitivity = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fTXContinueOnXoff = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fOutX = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fInX = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fErrorChar = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fNull = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fRtsControl = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fAbortOnError = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.fDummy2 = v; }, false},
        {[](DCB &d, std::uint32_t v) { d.wReserved = static_cast<WORD>(v); }, false},
        {[](DCB &d, std::uint32_t v) { d.XonLim = static_cast<WORD>(v); }, false},
        {[](DCB &d, std::uint32_t v) { d.XoffLim = static_cast<WORD>(v); }, false},
        {[](DCB &d, std::uint32_t v) { d.ByteSize = static_cast<BYTE>(v); }, true},
        {[](DCB &d, std::uint32_t v) { d.Parity = static_cast<BYTE>(v); }, true},
        {[](DCB &d, std::uint32_t v) { d.StopBits = static_cast<BYTE>(v); }, true},
        {[](DCB &d, std::uint32_t v) { d.XonChar = static_cast<char>(v); }, false},
        {[](DCB &d, std::uint32_t v) { d.XoffChar = static_cast<char>(v); }, false},
        {[](DCB &d, std::uint32_t v) { d.ErrorChar = static_cast<char>(v); }, false},
        {[](DCB &d, std::uint32_t v) { d.EofChar = static_cast<char>(v); }, false},
        {[](DCB &d, std::uint32_t v) { d.EvtChar = static_cast<char>(v); }, false},
        {[](DCB &d, std::uint32_t v) { d.wReserved1 = static_cast<WORD>(v); }, false},
    };
    const std::uint32_t v = next();
    const std::uint32_t small = below(16);
    const Field &field = kFields[below(std::size(kFields))];
    field.set(d, field.hasCodes && !coin() ? small : v);
  }

 private:
  std::mt19937 random_;
};

using SettingsRoundTrip = OpenedPort;

// The kernel holds every value of the DCB that a pseudo-terminal can hold.
void expectKernelHolds(const TtySettings &t, const DCB &d) {
  EXPECT_EQ(t.c_ospeed, d.BaudRate);
  EXPECT_EQ(t.c_ispeed, d.BaudRate);
  EXPECT_EQ((t.c_cflag & CSTOPB) != 0, d.StopBits != ONESTOPBIT);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), 0u)
      << "no flow control; bytes with parity errors are delivered as received";
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), CS8) << "what a pseudo-terminal always holds";
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "still raw";
}

}  // namespace

TEST_F(SettingsRoundTrip, EveryDcbIsTakenWholeOrRefusedWithoutATrace) {
  Generator generate(20261208);
  const bool anyRate = hasTermios2(pty.slave());
  if (!anyRate) std::printf("%s: only they are taken\n", kNeedsTermios2);
  int taken = 0;
  for (int i = 0; i < kCases; ++i) {
    DCB wanted = generate.honourableDcb();
    for (std::uint32_t changes = generate.below(4); changes > 0; --changes) {
      generate.scramble(wanted);
    }
    SCOPED_TRACE(testing::Message()
                 << "case " << i << ", rate " << wanted.BaudRate << ", " << int{wanted.ByteSize}
                 << "/" << int{wanted.Parity} << "/" << int{wanted.StopBits});
    DCB reportedBefore{};
    ASSERT_TRUE(GetCommState(port, &reportedBefore));
    const TtySettings heldBefore = ttySettingsOf(pty.slave());

    DCB given = wanted;
    const BOOL result = SetCommState(port, &given);
    const int error = errno;
    EXPECT_TRUE(sameBytes(given, wanted)) << "SetCommState wrote to the caller's DCB";
    ASSERT_EQ(result != FALSE, honourable(wanted, anyRate));

    DCB reported{};
    ASSERT_TRUE(GetCommState(port, &reported));
    const TtySettings held = ttySettingsOf(pty.slave());
    if (result) {
      ++taken;
      DCB expected = wanted;
      expected.DCBlength = sizeof(DCB);
      ASSERT_TRUE(sameBytes(reported, expected)) << "GetCommState does not give the DCB back";
      expectKernelHolds(held, wanted);
    } else {
      EXPECT_EQ(error, EINVAL);
      ASSERT_TRUE(sameBytes(reported, reportedBefore)) << "a refused DCB changed GetCommState";
      ASSERT_TRUE(sameBytes(held, heldBefore)) << "a refused DCB changed the device";
    }
    if (HasFatalFailure()) return;
  }
  std::printf("%d of %d generated DCBs taken, %d refused\n", taken, kCases, kCases - taken);
  // Both outcomes must be well represented, or the generator proves little.
  // Most generated rates have no code of their own.
  EXPECT_GT(taken, kCases / (anyRate ? 5 : 10));
  EXPECT_GT(kCases - taken, kCases / 5);
}
