#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/linux/port_namespace.h"
#include "pseudo_terminal.h"
#include "scoped_environment.h"

namespace {

const LPCWSTR kActiveDrivers = u"Drivers\\Active";

// A key closed at the end of the test.
struct Key {
  ~Key() {
    if (key != nullptr) {
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
  }
  HKEY key = nullptr;
};

LONG openActiveDrivers(Key &active) {
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveDrivers, 0, KEY_ENUMERATE_SUB_KEYS, &active.key);
}

std::vector<std::u16string> subkeysOf(HKEY key) {
  std::vector<std::u16string> names;
  for (DWORD index = 0;; ++index) {
    WCHAR name[260];
    DWORD count = 260;
    const LONG result = RegEnumKeyExW(key, index, name, &count, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
      EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
      return names;
    }
    EXPECT_EQ(count, std::u16string(name).size()) << "the count becomes the name's length";
    names.emplace_back(name);
  }
}

// The "Name" value of one port's key, or the failure code as text.
std::u16string nameValueOf(HKEY active, LPCWSTR port) {
  Key key;
  const LONG opened = RegOpenKeyExW(active, port, 0, KEY_QUERY_VALUE, &key.key);
  if (opened != ERROR_SUCCESS) {
    return u"open failed " + std::u16string(1, static_cast<char16_t>(u'0' + opened));
  }
  WCHAR value[21];
  DWORD size = sizeof value;
  const LONG queried =
      RegQueryValueExW(key.key, u"Name", nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &size);
  EXPECT_EQ(queried, ERROR_SUCCESS);
  EXPECT_EQ(size, (std::u16string(value).size() + 1) * sizeof(WCHAR))
      << "the size is in bytes, terminator included";
  return value;
}

TEST(ActiveDrivers, TheSubkeysAreThePortsEachNamedWithAColon) {
  PortsDirectory dir;
  PseudoTerminal first, second;
  makeLink(first.slavePath(), dir / "COM2");
  makeLink(second.slavePath(), dir / "COM1");
  makeLink("/nonexistent/ttyUSB0", dir / "COM3");

  Key active;
  ASSERT_EQ(openActiveDrivers(active), ERROR_SUCCESS);
  EXPECT_EQ(subkeysOf(active.key), (std::vector<std::u16string>{u"COM1", u"COM2"}));
  EXPECT_EQ(nameValueOf(active.key, u"COM1"), u"COM1:");
  EXPECT_EQ(nameValueOf(active.key, u"COM2"), u"COM2:");
}

TEST(ActiveDrivers, AnOpenKeyKeepsTheListItWasOpenedWith) {
  PortsDirectory dir;
  PseudoTerminal pty;
  makeLink(pty.slavePath(), dir / "COM1");
  makeLink(pty.slavePath(), dir / "COM2");
  Key before;
  ASSERT_EQ(openActiveDrivers(before), ERROR_SUCCESS);

  ASSERT_EQ(unlink((dir / "COM1").c_str()), 0);
  makeLink(pty.slavePath(), dir / "COM0");
  EXPECT_EQ(subkeysOf(before.key), (std::vector<std::u16string>{u"COM1", u"COM2"}));
  EXPECT_EQ(nameValueOf(before.key, u"COM1"), u"COM1:");

  Key after;
  ASSERT_EQ(openActiveDrivers(after), ERROR_SUCCESS);
  EXPECT_EQ(subkeysOf(after.key), (std::vector<std::u16string>{u"COM0", u"COM2"}));
}

TEST(ActiveDrivers, NamesAndValuesThatDoNotFitGiveMoreData) {
  PortsDirectory dir;
  makeLink("/dev/null", dir / "COM1234567890123456");   // "Name" takes 42 bytes
  makeLink("/dev/null", dir / "COM12345678901234567");  // "Name" takes 44 bytes
  Key active;
  ASSERT_EQ(openActiveDrivers(active), ERROR_SUCCESS);

  WCHAR name[32];
  DWORD count = 19;  // no room for the terminator
  EXPECT_EQ(RegEnumKeyExW(active.key, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  count = 20;
  EXPECT_EQ(RegEnumKeyExW(active.key, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 19u);

  EXPECT_EQ(nameValueOf(active.key, u"COM1234567890123456"), u"COM1234567890123456:");
  Key port;
  ASSERT_EQ(RegOpenKeyExW(active.key, u"COM12345678901234567", 0, KEY_QUERY_VALUE, &port.key),
            ERROR_SUCCESS);
  BYTE value[42];
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(port.key, u"Name", nullptr, nullptr, value, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 44u) << "a buffer too small is told the size";
}

// The key, the value and the ways of asking that the port list uses; nothing
// else.
TEST(ActiveDrivers, OnlyWhatThePortListAsksIsThere) {
  PortsDirectory dir;
  makeLink("/dev/null", dir / "COM1");
  HKEY other = nullptr;
  for (const LPCWSTR name : {u"Drivers", u"drivers\\ACTIVE", u"Drivers\\Builtin"}) {
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, name, 0, KEY_ENUMERATE_SUB_KEYS, &other),
              ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveDrivers, 0, KEY_QUERY_VALUE, &other),
            ERROR_INVALID_PARAMETER);
  Key active;
  ASSERT_EQ(openActiveDrivers(active), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(active.key, u"COM2", 0, KEY_QUERY_VALUE, &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(active.key, u"com1", 0, KEY_QUERY_VALUE, &other), ERROR_FILE_NOT_FOUND)
      << "port names are file names and keep their case";
  EXPECT_EQ(RegOpenKeyExW(active.key, u"COM1", 0, KEY_ENUMERATE_SUB_KEYS, &other),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(other, nullptr);

  BYTE value[42];
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(active.key, u"Name", nullptr, nullptr, value, &size),
            ERROR_INVALID_HANDLE);
  WCHAR name[32];
  DWORD count = 32;
  DWORD classCount = 0;
  EXPECT_EQ(RegEnumKeyExW(active.key, 0, name, &count, nullptr, nullptr, &classCount, nullptr),
            ERROR_INVALID_PARAMETER);
  Key port;
  ASSERT_EQ(RegOpenKeyExW(active.key, u"COM1", 0, KEY_QUERY_VALUE, &port.key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(port.key, u"FriendlyName", nullptr, nullptr, value, &size),
            ERROR_INVALID_PARAMETER);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(port.key, u"Name", nullptr, &type, value, &size),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumKeyExW(port.key, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_INVALID_HANDLE) << "it was never opened";
}

TEST(ActiveDrivers, WithoutTarveskPortsTheKernelsSerialDevicesAreListed) {
  ScopedEnv ports("TARVESK_PORTS", "");  // empty counts as unset
  std::vector<std::u16string> expected;
  for (const tarvesk_linux::PortEntry &entry :
       tarvesk_linux::readSysfsPorts("/sys/class/tty", "/dev").ports) {
    expected.emplace_back(entry.name.begin(), entry.name.end());
  }
  Key active;
  ASSERT_EQ(openActiveDrivers(active), ERROR_SUCCESS);
  EXPECT_EQ(subkeysOf(active.key), expected);
}

TEST(ActiveDrivers, AMissingPortsDirectoryIsAMissingKey) {
  ScopedEnv ports("TARVESK_PORTS", "/nonexistent/ports");
  Key active;
  EXPECT_EQ(openActiveDrivers(active), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(active.key, nullptr);
}

// The code RegOpenKeyExW gives for "Drivers\Active", asked by a process that
// is not root (root reads any directory).
LONG openAsUnprivilegedUser() {
  if (geteuid() != 0) {
    Key active;
    return openActiveDrivers(active);
  }
  const pid_t child = fork();
  if (child == 0) {
    LONG result = -1;
    if (setgid(65534) == 0 && setuid(65534) == 0) {
      HKEY active = nullptr;
      result =
          RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveDrivers, 0, KEY_ENUMERATE_SUB_KEYS, &active);
    }
    _exit(static_cast<int>(result & 0xFF));
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ActiveDrivers, AnUnreadablePortsDirectoryIsDenied) {
  PortsDirectory dir;
  makeLink("/dev/null", dir / "COM1");
  ASSERT_EQ(chmod(dir.path.string().c_str(), 0), 0);
  EXPECT_EQ(openAsUnprivilegedUser(), ERROR_ACCESS_DENIED);
  ASSERT_EQ(chmod(dir.path.string().c_str(), 0700), 0);
}

}  // namespace
