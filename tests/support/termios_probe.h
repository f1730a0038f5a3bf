#pragma once

// Looking at a device the way the kernel holds it, for tests that compare
// before and after.
#include <termios.h>

#include <cstring>

#include <gtest/gtest.h>

#include "platform/posix/linux/kernel_termios.h"

using tarvesk_linux::TtySettings;

inline TtySettings ttySettingsOf(int fd) {
  TtySettings t{};
  EXPECT_TRUE(tarvesk_linux::readTtySettings(fd, t));
  return t;
}

// Whether the kernel answers termios2 here. qemu-user does not: there only the
// standard rates can be set, and tests of any other skip themselves.
bool hasTermios2(int fd);

constexpr const char *kNeedsTermios2 =
    "the kernel does not answer termios2 here (qemu-user): no rates beyond the standard ones";

template <typename T>
bool sameBytes(const T &a, const T &b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}
