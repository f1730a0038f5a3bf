#pragma once

// The one place that decides that a device is gone: the peer of a
// pseudo-terminal closed, a USB adapter pulled out. Either way the kernel
// cuts the tty off, and from then on says so: poll() reports POLLHUP and
// POLLERR, read() and ioctl() fail with EIO (read() may also return 0). Only
// that counts: other programs may read the same device and change its
// settings, so "readable but nothing to read" or a read of 0 bytes alone
// prove nothing. The calls hand in what they saw of the device; once it is
// found gone it stays gone, and every call asks isGone() before it relies on
// the device.
#include <sys/types.h>

#include "platform/posix/linux/tty.h"

namespace tarvesk_linux {

bool isGone(const Tty &tty);

// result of a read() or write() that moved nothing, with errno where it is
// -1: EIO means gone; so does a read of 0 bytes if poll() then reports
// POLLHUP. A live tty reads 0 bytes when another program has set its VMIN to
// 0 and nothing is queued.
bool transferShowsGone(Tty &tty, ssize_t result);

// revents of a poll() on the device: POLLHUP, POLLERR or POLLNVAL mean gone.
bool pollShowsGone(Tty &tty, short revents);

// The bytes waiting to be read, without waiting; false once the device is
// gone and nothing is left to read.
bool queuedInput(Tty &tty, int &queued);

}  // namespace tarvesk_linux
