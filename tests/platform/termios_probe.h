#pragma once

// Looking at a device the way the kernel holds it, for tests that compare
// before and after.
#include <sys/ioctl.h>

#include <cstring>

#include <gtest/gtest.h>

#include "platform/posix/port_record.h"

inline termios2 termiosOf(int fd) {
  termios2 t{};
  EXPECT_EQ(ioctl(fd, TCGETS2, &t), 0);
  return t;
}

template <typename T>
bool sameBytes(const T &a, const T &b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}
