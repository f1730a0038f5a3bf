#pragma once

// The DCB <-> termios mapping. Pure: no device is touched, so every value can
// be checked without one.
#include <termios.h>

#include <optional>

#include "platform/platform.h"
#include "platform/posix/linux/kernel_termios.h"

namespace tarvesk_win32_calls {

using tarvesk_linux::TtySettings;

// The termios that carries dcb, built on current in raw mode (which keeps
// every bit the DCB does not speak about). Empty when Linux cannot honour
// some value of the DCB exactly. dtrOn/rtsOn are the device's modem lines, as
// for dcbForTtySettings: a handshake is taken only as the device already holds it.
std::optional<TtySettings> ttySettingsForDcb(const DCB &dcb, const TtySettings &current,
                                             bool dtrOn = true, bool rtsOn = true);

// The DCB that describes a device in this termios state. dtrOn/rtsOn are the
// modem lines as TIOCMGET reports them (both true for devices without lines).
DCB dcbForTtySettings(const TtySettings &settings, bool dtrOn, bool rtsOn);

}  // namespace tarvesk_win32_calls
