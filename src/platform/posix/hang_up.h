#pragma once

// The one place that decides that a device is gone: the peer of a
// pseudo-terminal closed, a USB adapter pulled out. The calls hand in what
// they saw of the device; once it is found gone it stays gone, and every call
// asks isGone() before it relies on the device.
#include <sys/types.h>

#include "platform/posix/port_record.h"

namespace tarvesk_posix {

bool isGone(const PortRecord &port);

// result of a read() or write() that moved nothing, with errno where it is
// -1: a read of 0 bytes (a live non-blocking tty never gives one) or EIO
// means gone.
bool transferShowsGone(PortRecord &port, ssize_t result);

// revents of a poll() that found nothing to do for the caller (no room for
// output): POLLHUP, POLLERR or POLLNVAL mean gone.
bool pollShowsGone(PortRecord &port, short revents);

// The bytes waiting to be read, without waiting; false once the device is
// gone and nothing is left to read.
bool queuedInput(PortRecord &port, int &queued);

// A wait for input was woken with revents: true when input is queued.
// Otherwise the device is gone if poll() says it hung up, or if it still
// reports input after a moment with none to read while no ReadFile on the
// handle has taken a byte since takenBefore (another reader taking the input
// is no sign).
bool inputAfterWake(PortRecord &port, short revents, unsigned long long takenBefore);

}  // namespace tarvesk_posix
