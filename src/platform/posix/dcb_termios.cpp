// The DCB <-> termios mapping. Pure: no device is touched here, so every
// value can be checked without one.
#include "platform/posix/port_record.h"

namespace tarvesk_posix {

namespace {

// The bits of each flag word that the mapping decides; everything else is
// left as the driver had it.
constexpr tcflag_t kInputBits = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                                ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL;
constexpr tcflag_t kLocalBits = ISIG | ICANON | ECHO | ECHONL | IEXTEN;
constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR;
constexpr tcflag_t kControlBits = kFramingBits | CSTOPB | CRTSCTS | CLOCAL | CREAD;
constexpr tcflag_t kSpeedBits = CBAUD | (CBAUD << IBSHIFT);

// The kernel's code for a standard rate; BOTHER for any other, which then
// travels in c_ospeed/c_ispeed.
tcflag_t speedCode(DWORD rate) {
  switch (rate) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 500000:
      return B500000;
    case 576000:
      return B576000;
    case 921600:
      return B921600;
    case 1000000:
      return B1000000;
    case 1152000:
      return B1152000;
    case 1500000:
      return B1500000;
    case 2000000:
      return B2000000;
    case 2500000:
      return B2500000;
    case 3000000:
      return B3000000;
    case 3500000:
      return B3500000;
    case 4000000:
      return B4000000;
    default:
      return BOTHER;
  }
}

tcflag_t sizeCode(BYTE byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

BYTE byteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

// Everything Linux cannot do exactly is refused rather than approximated.
bool canHonour(const DCB &dcb) {
  if (!dcb.fBinary || dcb.BaudRate == 0) {
    return false;  // Linux has no non-binary mode; rate 0 would hang the line up
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
  // No DSR flow or sensitivity, DTR handshake, RTS toggle, error-character
  // replacement, null stripping or abort-on-error in the tty layer.
  if (dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE ||
      dcb.fRtsControl == RTS_CONTROL_TOGGLE || dcb.fErrorChar || dcb.fNull || dcb.fAbortOnError) {
    return false;
  }
  // CRTSCTS is both halves at once: CTS gates output and RTS gates input.
  if (static_cast<bool>(dcb.fOutxCtsFlow) != (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)) {
    return false;
  }
  if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) {
    return false;
  }
  // Linux keeps sending after it has sent XOFF; it cannot stop as Win32 does
  // with fTXContinueOnXoff = 0.
  if (dcb.fInX && !dcb.fTXContinueOnXoff) {
    return false;
  }
  return true;
}

}  // namespace

termios2 rawTermios(const termios2 &current) {
  termios2 raw = current;
  // No break, parity-mark, strip, CR/NL or case translation on input, and no
  // software flow control until a DCB asks for it. INPCK is the DCB's too.
  raw.c_iflag &= ~(kInputBits & ~INPCK);
  raw.c_oflag &= ~OPOST;       // output bytes go out as written
  raw.c_lflag &= ~kLocalBits;  // no line editing, echo or signal characters
  // CLOCAL: carrier detect does not gate open or I/O; CREAD: receiver on.
  raw.c_cflag |= CLOCAL | CREAD;
  raw.c_cc[VMIN] = 1;   // a blocking read would wait for one byte, with no
  raw.c_cc[VTIME] = 0;  // inter-byte timer (the fd is non-blocking anyway)
  return raw;
}

std::optional<termios2> termiosForDcb(const DCB &dcb, const termios2 &current) {
  if (!canHonour(dcb)) {
    return std::nullopt;
  }
  termios2 wanted = rawTermios(current);

  wanted.c_cflag &= ~(kControlBits | kSpeedBits);
  wanted.c_cflag |= CLOCAL | CREAD;
  // Input speed bits 0 mean "same as output"; c_ispeed says so as well.
  wanted.c_cflag |= speedCode(dcb.BaudRate);
  wanted.c_ospeed = dcb.BaudRate;
  wanted.c_ispeed = dcb.BaudRate;

  wanted.c_cflag |= sizeCode(dcb.ByteSize);
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
    wanted.c_cflag |= CRTSCTS;
  }

  // INPCK: check the parity of received bytes (fParity). Without IGNPAR or
  // PARMRK, a byte with bad parity is read as 0.
  wanted.c_iflag &= ~(INPCK | IXON | IXOFF);
  if (dcb.fParity) {
    wanted.c_iflag |= INPCK;
  }
  if (dcb.fOutX) {
    wanted.c_iflag |= IXON;  // stop sending on XOFF received, resume on XON
  }
  if (dcb.fInX) {
    wanted.c_iflag |= IXOFF;  // send XOFF/XON as the input queue fills/drains
  }
  wanted.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  wanted.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  return wanted;
}

DCB dcbForTermios(const termios2 &settings, bool dtrOn, bool rtsOn) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = settings.c_ospeed;
  dcb.fBinary = 1;
  dcb.fParity = (settings.c_iflag & INPCK) ? 1 : 0;
  const bool hardwareFlow = (settings.c_cflag & CRTSCTS) != 0;
  dcb.fOutxCtsFlow = hardwareFlow ? 1 : 0;
  dcb.fDtrControl = dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fTXContinueOnXoff = 1;  // Linux never stops output because it sent XOFF
  dcb.fOutX = (settings.c_iflag & IXON) ? 1 : 0;
  dcb.fInX = (settings.c_iflag & IXOFF) ? 1 : 0;
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
  dcb.XonChar = static_cast<char>(settings.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
  return dcb;
}

bool holdsLineSetting(const termios2 &held, const termios2 &wanted) {
  return (held.c_cflag & kControlBits) == (wanted.c_cflag & kControlBits) &&
         held.c_ospeed == wanted.c_ospeed && held.c_ispeed == wanted.c_ispeed &&
         (held.c_iflag & kInputBits) == (wanted.c_iflag & kInputBits) &&
         (held.c_oflag & OPOST) == (wanted.c_oflag & OPOST) &&
         (held.c_lflag & kLocalBits) == (wanted.c_lflag & kLocalBits) &&
         held.c_cc[VMIN] == wanted.c_cc[VMIN] && held.c_cc[VTIME] == wanted.c_cc[VTIME] &&
         held.c_cc[VSTART] == wanted.c_cc[VSTART] && held.c_cc[VSTOP] == wanted.c_cc[VSTOP];
}

bool differsOnlyInFraming(const termios2 &held, const termios2 &wanted) {
  termios2 heldWithWantedFraming = held;
  heldWithWantedFraming.c_cflag &= ~kFramingBits;
  heldWithWantedFraming.c_cflag |= wanted.c_cflag & kFramingBits;
  return holdsLineSetting(heldWithWantedFraming, wanted);
}

termios2 withPseudoTerminalFraming(const termios2 &wanted) {
  termios2 framed = wanted;
  framed.c_cflag &= ~kFramingBits;
  framed.c_cflag |= CS8;
  return framed;
}

}  // namespace tarvesk_posix
