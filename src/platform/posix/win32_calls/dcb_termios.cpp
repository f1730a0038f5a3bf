#include "platform/posix/win32_calls/dcb_termios.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/posix/linux/line_settings.h"

namespace tarvesk_win32_calls {

namespace {

// The control bits the DCB decides; raw mode has set CLOCAL and CREAD, and
// the rest stays as the driver had it.
constexpr tcflag_t kLineBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

// 5 to 8 data bits; CSIZE holds no other code.
constexpr tcflag_t kSizeCodes[] = {CS5, CS6, CS7, CS8};

BYTE byteSizeOf(tcflag_t cflag) {
  const tcflag_t *code = std::find(std::begin(kSizeCodes), std::end(kSizeCodes), cflag & CSIZE);
  return static_cast<BYTE>(5 + (code - std::begin(kSizeCodes)));
}

// The handshake fields, which the device's DCB (dcbForTtySettings) reports.
bool sameHandshake(const DCB &a, const DCB &b) {
  return a.fOutxCtsFlow == b.fOutxCtsFlow && a.fDtrControl == b.fDtrControl &&
         a.fRtsControl == b.fRtsControl;
}

// Everything Linux cannot do exactly is refused rather than approximated, and
// so is flow control, which the library never asks for: DTR and RTS on, no
// CTS, DSR or XON/XOFF. A handshake the device holds already (held) is kept
// as it is, so that the line params still change after a driver refused the
// library's settings at open.
bool canHonour(const DCB &dcb, const DCB &held) {
  if (!dcb.fBinary || dcb.BaudRate == 0) {
    return false;  // Linux has no non-binary mode; rate 0 would drop DTR and RTS
  }
  // A pty keeps any rate, but no UART runs past INT_MAX, where ftdi_sio's int rate turns negative.
  if (dcb.BaudRate > static_cast<DWORD>(INT32_MAX)) {
    return false;
  }
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY) {
    return false;
  }
  switch (dcb.StopBits) {
    case ONESTOPBIT:
      break;
    case ONE5STOPBITS:
      if (dcb.ByteSize != 5) return false;  // CSTOPB gives 1.5 stop bits only at 5 data bits
      break;
    case TWOSTOPBITS:
      if (dcb.ByteSize == 5) return false;  // ... so 2 stop bits cannot be had at 5
      break;
    default:
      return false;
  }
  // Nor error-character replacement, null stripping or abort-on-error: the
  // tty layer has none of them.
  const bool noHandshake = !dcb.fOutxCtsFlow && dcb.fDtrControl == DTR_CONTROL_ENABLE &&
                           dcb.fRtsControl == RTS_CONTROL_ENABLE;
  return (noHandshake || sameHandshake(dcb, held)) && !dcb.fOutxDsrFlow && !dcb.fDsrSensitivity &&
         !dcb.fOutX && !dcb.fInX && !dcb.fErrorChar && !dcb.fNull && !dcb.fAbortOnError;
}

}  // namespace

std::optional<TtySettings> ttySettingsForDcb(const DCB &dcb, const TtySettings &current, bool dtrOn,
                                             bool rtsOn) {
  if (!canHonour(dcb, dcbForTtySettings(current, dtrOn, rtsOn))) {
    return std::nullopt;
  }
  TtySettings wanted = tarvesk_linux::rawTtySettings(current);

  wanted.c_cflag &= ~kLineBits;
  wanted.c_ospeed = dcb.BaudRate;
  wanted.c_ispeed = dcb.BaudRate;

  wanted.c_cflag |= kSizeCodes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case ODDPARITY:
      wanted.c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      wanted.c_cflag |= PARENB;
      break;
    case MARKPARITY:
      wanted.c_cflag |= PARENB | CMSPAR | PARODD;
      break;  // parity bit always 1
    case SPACEPARITY:
      wanted.c_cflag |= PARENB | CMSPAR;
      break;  // parity bit always 0
    default:
      break;  // none: PARENB, PARODD and CMSPAR all cleared above
  }
  if (dcb.StopBits != ONESTOPBIT) {
    wanted.c_cflag |= CSTOPB;  // two stop bits, or 1.5 at 5 data bits
  }
  if (dcb.fOutxCtsFlow) {
    wanted.c_cflag |= CRTSCTS;  // kept as current has it: taken only from there
  }
  // No IXON or IXOFF (cleared with raw mode). No INPCK, whatever
  // fParity says: n_tty would read a byte with a parity or framing error as 0
  // (without IGNPAR or PARMRK), where Win32, with fErrorChar off (the only way
  // accepted), delivers it as received. Nor would it report the error: the
  // layer tracks no line errors. (INPCK also keeps n_tty off its fast path
  // for raw input.)
  return wanted;
}

DCB dcbForTtySettings(const TtySettings &settings, bool dtrOn, bool rtsOn) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = settings.c_ospeed;
  dcb.fBinary = 1;
  // Hardware flow control shows as the kernel has it (raw mode keeps it, and
  // clears software flow control) until the first SetCommState.
  const bool hardwareFlow = (settings.c_cflag & CRTSCTS) != 0;
  dcb.fOutxCtsFlow = hardwareFlow ? 1 : 0;
  dcb.fDtrControl = dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl =
      hardwareFlow ? RTS_CONTROL_HANDSHAKE : (rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
  dcb.ByteSize = byteSizeOf(settings.c_cflag);
  if (!(settings.c_cflag & PARENB)) {
    dcb.Parity = NOPARITY;
  } else if (settings.c_cflag & CMSPAR) {
    dcb.Parity = (settings.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  } else {
    dcb.Parity = (settings.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  }
  if (!(settings.c_cflag & CSTOPB)) {
    dcb.StopBits = ONESTOPBIT;
  } else {
    dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  }
  return dcb;
}

}  // namespace tarvesk_win32_calls
