#pragma once

#include <sys/types.h>

// Link-time seams (-Wl,--wrap=read, -Wl,--wrap=ioctl) in front of the Linux
// layer's read() and ioctl(), to make a live pseudo-terminal behave as a USB
// serial adapter does once it has been pulled out: FIONREAD still reports
// input, but read() returns 0. Every other descriptor, and every other
// request, reaches the kernel unchanged.
namespace device_seams {

// From now on the descriptors open on device (all but spared, the test's own)
// claim claimedInput bytes queued and read 0 bytes.
void vanish(dev_t device, int spared, int claimedInput);

// The device behaves as the kernel says again.
void restore();

}  // namespace device_seams
