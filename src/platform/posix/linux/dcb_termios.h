#pragma once

// The DCB <-> termios mapping. Pure: no device is touched, so every value can
// be checked without one.
#include <termios.h>

#include <optional>

#include "platform/platform.h"
#include "platform/posix/linux/kernel_termios.h"

namespace tarvesk_posix {

// current in raw mode: bytes pass unchanged both ways, no echo, no signals,
// modem status lines ignored, receiver on. Speed, framing and hardware flow
// control stay as they are.
TtySettings rawTermios(const TtySettings &current);

// The termios that carries dcb, built on current (which keeps every bit the
// DCB does not speak about). Empty when Linux cannot honour some value of
// the DCB exactly. dtrOn/rtsOn are the device's modem lines, as for
// dcbForTermios: a handshake is taken only as the device already holds it.
std::optional<TtySettings> termiosForDcb(const DCB &dcb, const TtySettings &current,
                                         bool dtrOn = true, bool rtsOn = true);

// The DCB that describes a device in this termios state. dtrOn/rtsOn are the
// modem lines as TIOCMGET reports them (both true for devices without lines).
DCB dcbForTermios(const TtySettings &settings, bool dtrOn, bool rtsOn);

// True when the kernel holds every value of wanted that the DCB mapping sets.
bool holdsSettings(const TtySettings &held, const TtySettings &wanted);

// True when held and wanted differ in character size and parity only: what a
// pseudo-terminal forces, having no line to frame characters on.
bool differsOnlyInFraming(const TtySettings &held, const TtySettings &wanted);

// wanted with 8 data bits and no parity: what a pseudo-terminal can hold.
TtySettings withPseudoTerminalFraming(const TtySettings &wanted);

}  // namespace tarvesk_posix
