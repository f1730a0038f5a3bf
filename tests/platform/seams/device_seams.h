#pragma once

#include <sys/types.h>

// Link-time seams (-Wl,--wrap=read, -Wl,--wrap=ioctl) in front of the Linux
// layer's read() and ioctl(), to make a live pseudo-terminal behave as real
// hardware can: a USB serial adapter that has been pulled out, or a UART
// driver that cannot make a baud rate. Only the descriptors open on the chosen
// device, except the test's own (spared), are affected; every other call
// reaches the kernel unchanged.
namespace device_seams {

// A pulled-out adapter, as the kernel cuts its tty off: read() returns 0 and
// every ioctl() fails with EIO. poll() still sees the live pseudo-terminal.
void pullOut(dev_t device, int spared);

// A device that polls readable (for input the test leaves in it), counts
// claimedInput bytes and reads none: no state a live tty stays in, nor what
// the kernel makes of a gone one.
void readNothing(dev_t device, int spared, int claimedInput);

// A driver that refuses the speed rate: setting it fails with EINVAL.
void refuseRate(dev_t device, int spared, unsigned int rate);

// A driver that takes the speed rate without complaint but runs at actual
// instead, as a UART whose clock cannot divide down to rate does.
void approximateRate(dev_t device, int spared, unsigned int rate, unsigned int actual);

// The device behaves as the kernel says again.
void restore();

// A kernel without termios2, as under qemu-user: TCGETS2 and TCSETS2 fail
// with ENOSYS, and only the classic requests work.
void lackTermios2(dev_t device, int spared);

}  // namespace device_seams
