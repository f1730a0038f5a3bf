#pragma once

// Looking at a device the way the kernel holds it, for tests that compare
// before and after.
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/posix/port_record.h"

inline termios2 termiosOf(int fd) {
  termios2 t{};
  EXPECT_TRUE(tarvesk_posix::readTermios(fd, t));
  return t;
}

// Whether the kernel answers termios2 here. qemu-user does not: there only the
// standard rates can be set, and tests of any other skip themselves.
inline bool hasTermios2(int fd) {
  termios2 t{};
  return ioctl(fd, TCGETS2, &t) == 0 || (errno != ENOSYS && errno != ENOTTY);
}

constexpr const char *kNeedsTermios2 =
    "the kernel does not answer termios2 here (qemu-user): no rates beyond the standard ones";

template <typename T>
bool sameBytes(const T &a, const T &b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}
