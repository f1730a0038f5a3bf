#include "opened_port.h"

#include <cerrno>

#include "serial/native_serial_port.h"
#include "termios_probe.h"

HANDLE openLikeTheLibrary(const std::u16string &name) {
  HANDLE port = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    return port;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  GetCommState(port, &dcb);
  NativeSerialPort::setDefaultCommState(dcb);
  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(port, &timeouts);
  NativeSerialPort::setDefaultTimeouts(timeouts);
  EXPECT_TRUE(SetCommState(port, &dcb));
  EXPECT_TRUE(SetCommTimeouts(port, &timeouts));
  return port;
}

void OpenedPort::expectRefusedWithoutATrace(const DCB &wanted) {
  const TtySettings heldBefore = ttySettingsOf(pty.slave());
  DCB reportedBefore{};
  ASSERT_TRUE(GetCommState(port, &reportedBefore));
  DCB given = wanted;
  EXPECT_FALSE(SetCommState(port, &given));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(sameBytes(ttySettingsOf(pty.slave()), heldBefore)) << "the device was changed";
  DCB reported{};
  ASSERT_TRUE(GetCommState(port, &reported));
  EXPECT_TRUE(sameBytes(reported, reportedBefore)) << "GetCommState reports a refused DCB";
}
