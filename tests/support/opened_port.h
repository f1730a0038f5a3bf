#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "pseudo_terminal.h"

// The library's own open: CreateFileW, then the comm state and time-outs
// NativeSerialPort sets.
HANDLE openLikeTheLibrary(const std::u16string &name);

// A port opened as the library opens one, on a fresh pseudo-terminal; closed
// when the test ends.
class OpenedPort : public testing::Test {
 protected:
  void SetUp() override {
    port = openLikeTheLibrary(pty.slaveName());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
  }
  void TearDown() override { CloseHandle(port); }

  // SetCommState refuses wanted as an invalid argument (EINVAL), and neither the
  // device nor GetCommState shows a trace of it.
  void expectRefusedWithoutATrace(const DCB &wanted);

  PseudoTerminal pty;
  HANDLE port = INVALID_HANDLE_VALUE;
};
