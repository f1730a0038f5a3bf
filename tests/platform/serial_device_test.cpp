// Opening and closing on pseudo-terminals: names, exclusivity, the library's
// default settings as the kernel then holds them.
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include <gtest/gtest.h>

#include "opened_port.h"
#include "scoped_environment.h"
#include "serial/native_serial_port.h"
#include "termios_probe.h"

namespace {

HANDLE openByName(const std::u16string &name) {
  return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

}  // namespace

TEST(SerialDevice, LibraryOpenLeavesNineSixHundredEightNOneRawWithoutFlowControl) {
  PseudoTerminal pty;
  // Start from a cooked, 7E2, flow-controlled terminal so that every value
  // has to be changed by the open.
  TtySettings cooked = ttySettingsOf(pty.slave());
  cooked.c_cflag = (cooked.c_cflag & ~CSIZE) | CS7 | CSTOPB | CRTSCTS;
  cooked.c_ispeed = cooked.c_ospeed = 38400;
  cooked.c_iflag |= IXON | IXOFF | ICRNL;
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_oflag |= OPOST;
  ASSERT_TRUE(tarvesk_linux::writeTtySettings(pty.slave(), cooked));

  MessageLog log;
  {
    NativeSerialPort port(pty.slaveName().c_str());
    ASSERT_TRUE(port.isOpen());
    const TtySettings t = ttySettingsOf(pty.slave());
    EXPECT_EQ(t.c_ospeed, 9600u);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), CS8);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);

    pty.send("xyz");
    BYTE buffer[8] = {};
    EXPECT_EQ(port.readBytes(buffer, 2), 2);
    EXPECT_EQ(port.bytesAvailable(), 1);
  }
  // Settings and time-outs were accepted: no message was shown.
  EXPECT_FALSE(std::filesystem::exists(log.file));
}

TEST(SerialDevice, SecondOpenFailsAndLeavesTheOwnerAlone) {
  PseudoTerminal pty;
  HANDLE owner = openLikeTheLibrary(pty.slaveName());
  ASSERT_NE(owner, INVALID_HANDLE_VALUE);
  DCB dcb{};
  GetCommState(owner, &dcb);
  dcb.BaudRate = 19200;
  ASSERT_TRUE(SetCommState(owner, &dcb));

  EXPECT_EQ(openByName(pty.slaveName()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(errno, EWOULDBLOCK) << "the device's lock is held";
  EXPECT_EQ(ttySettingsOf(pty.slave()).c_ospeed, 19200u);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(owner, "ok", 2, &written, nullptr));
  EXPECT_EQ(pty.receive(2, std::chrono::seconds(2)), "ok");

  ASSERT_TRUE(CloseHandle(owner));
  HANDLE next = openByName(pty.slaveName());
  EXPECT_NE(next, INVALID_HANDLE_VALUE) << "closing must release the device";
  EXPECT_TRUE(CloseHandle(next));
}

// Another program holding the device through TIOCEXCL alone owns it too.
TEST(SerialDevice, ADeviceHeldThroughTiocexclAloneDoesNotOpen) {
  PseudoTerminal pty;
  int exclusive = 0;
  if (geteuid() == 0 && ioctl(pty.slave(), TIOCGEXCL, &exclusive) != 0 && errno == ENOSYS) {
    GTEST_SKIP() << "root opens past TIOCEXCL, and TIOCGEXCL, which shows it, is missing here "
                    "(qemu-user)";
  }
  ASSERT_EQ(ioctl(pty.slave(), TIOCEXCL), 0);
  MessageLog log;
  EXPECT_EQ(openByName(pty.slaveName()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(log.text(), "tarvesk: " + pty.slavePath() +
                            ": busy: another program claimed it for exclusive use (TIOCEXCL)\n");
  ioctl(pty.slave(), TIOCNXCL);
}

TEST(SerialDevice, NamesResolveThroughThePortDirectoryOrAsAbsolutePaths) {
  PseudoTerminal pty;
  PortsDirectory dir;
  makeLink(pty.slavePath(), dir / "COM7");

  for (const std::u16string name : {u"COM7:", u"COM7"}) {
    HANDLE port = openByName(name);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(port));
  }
  EXPECT_EQ(openByName(u"COM8:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(errno, ENOENT);
  MessageLog log;
  EXPECT_EQ(openByName(u"/dev/null"), INVALID_HANDLE_VALUE) << "not a tty";
  EXPECT_EQ(openByName(u"/"), INVALID_HANDLE_VALUE);
  // Each failure says why, once (the missing and busy ones: OpenCloseTest); the refusals below
  // say nothing.
  const std::string said = log.text();
  EXPECT_EQ(said,
            "tarvesk: /dev/null: not a serial device: a device that is no terminal\n"
            "tarvesk: /: not a serial device: a directory\n");
  // Shared, or for overlapped I/O: not the way the library opens a port.
  for (const auto &[share, flags] : {std::pair<DWORD, DWORD>{1, 0}, {0, 0x40000000u}}) {
    EXPECT_EQ(CreateFileW(u"COM7", GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                          flags, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(log.text(), said);
  EXPECT_EQ(openByName(u"/nonexistent/ttyS0"), INVALID_HANDLE_VALUE);

  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

// Out of descriptors, the open fails, and says so on stderr: the log cannot
// be opened either.
TEST(SerialDevice, OutOfDescriptorsTheOpenFails) {
  PseudoTerminal pty;
  MessageLog log;
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit none{0, limit.rlim_max};
  testing::internal::CaptureStderr();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  const HANDLE port = openByName(pty.slaveName());
  const int error = errno;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  EXPECT_EQ(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(error, EMFILE);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "tarvesk: " + pty.slavePath() +
                ": no file descriptors left: this program has as many open as its limit allows\n");
}

// A registry key is no serial device, nor a serial device a registry key.
TEST(SerialDevice, AHandleOfTheOtherKindIsRefused) {
  PortsDirectory dir;
  PseudoTerminal pty;
  makeLink(pty.slavePath(), dir / "COM1");
  HANDLE port = openByName(u"COM1");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active", 0, KEY_ENUMERATE_SUB_KEYS, &key),
            ERROR_SUCCESS);

  EXPECT_FALSE(CloseHandle(key));
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(RegCloseKey(static_cast<HKEY>(port)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(port));
}
