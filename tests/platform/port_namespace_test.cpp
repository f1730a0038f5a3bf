#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/linux/port_namespace.h"
#include "pseudo_terminal.h"
#include "scoped_environment.h"

namespace {

using tarvesk_linux::PortEntry;

void writeFile(const std::string &path, const std::string &content) {
  std::ofstream(path) << content;
}

std::vector<std::pair<std::string, std::string>> namesAndPaths(
    const std::vector<PortEntry> &ports) {
  std::vector<std::pair<std::string, std::string>> result;
  for (const PortEntry &port : ports) {
    result.emplace_back(port.name, port.devicePath);
  }
  return result;
}

TEST(PortDirectory, ListsEntriesThatReachACharacterDeviceInByteOrder) {
  PortsDirectory dir;
  PseudoTerminal first, second;
  makeLink(first.slavePath(), dir / "COM2");
  makeLink(second.slavePath(), dir / "COM10");
  makeLink(dir / "COM2", dir / "COM1");  // a link to a link
  makeLink("/dev/null", dir / "aux");
  makeLink("/nonexistent/ttyUSB9", dir / "COM3");  // dangling
  makeLink(dir / "COM4", dir / "COM4");            // a loop
  writeFile(dir / "COM5", "not a device");
  makeLink(dir / "COM5", dir / "COM6");  // a link to a plain file
  ASSERT_EQ(mkdir((dir / "COM7").c_str(), 0700), 0);

  const std::vector<std::pair<std::string, std::string>> expected = {{"COM1", dir / "COM1"},
                                                                     {"COM10", dir / "COM10"},
                                                                     {"COM2", dir / "COM2"},
                                                                     {"aux", dir / "aux"}};
  EXPECT_EQ(namesAndPaths(tarvesk_linux::readPortsDirectory(dir.path.string()).ports), expected);

  EXPECT_EQ(namesAndPaths(tarvesk_linux::readActivePorts().ports), expected);
}

TEST(PortDirectory, AMissingDirectoryListsNothing) {
  EXPECT_TRUE(tarvesk_linux::readPortsDirectory("/nonexistent/ports").ports.empty());
}

// A made-up /sys: each tty directory, its device link, the driver behind it
// and, for UARTs, the type attribute.
class SysfsTree {
 public:
  SysfsTree() {
    mkdirs("class/tty");
    mkdirs("bus/drivers");
  }

  // A tty whose device link leads straight to the hardware, as before Linux
  // 6.5; with layered, through the serial core's "port" and "ctrl" devices.
  void tty(const std::string &name, const std::string &driver, const std::string &type = "",
           bool layered = false) {
    const std::string ttyDir = root / ("class/tty/" + name);
    mkdirs("class/tty/" + name);
    if (!driver.empty()) {
      const std::string hardware = "devices/" + name;
      std::string device = hardware;
      attachDriver(hardware, driver, "../../bus/drivers/");
      if (layered) {
        device = hardware + "/ctrl/port";
        attachDriver(hardware + "/ctrl", "ctrl", "../../../bus/drivers/");
        attachDriver(device, "port", "../../../../bus/drivers/");
      }
      makeLink("../../../" + device, ttyDir + "/device");
    }
    if (!type.empty()) {
      writeFile(ttyDir + "/type", type + "\n");
    }
  }

  std::string classTty() const { return root / "class/tty"; }

 private:
  void attachDriver(const std::string &device, const std::string &driver,
                    const std::string &driversFromDevice) {
    mkdirs(device);
    mkdirs("bus/drivers/" + driver);
    makeLink(driversFromDevice + driver, root / (device + "/driver"));
  }

  void mkdirs(const std::string &relative) {
    std::string path = root.path.string();
    std::size_t start = 0;
    while (start <= relative.size()) {
      std::size_t end = relative.find('/', start);
      if (end == std::string::npos) {
        end = relative.size();
      }
      path += "/" + relative.substr(start, end - start);
      mkdir(path.c_str(), 0755);
      start = end + 1;
    }
  }

  TempDir root;
};

TEST(SysfsPorts, RealPortsInFamilyAndNumberOrderNamedCom1Onwards) {
  SysfsTree sys;
  sys.tty("ttyS10", "serial", "4");
  sys.tty("ttyS1", "serial8250", "0");  // reserved 8250 slot, no UART
  sys.tty("ttyS3", "serial", "0", true);
  sys.tty("ttyS5", "serial8250", "0", true);
  sys.tty("ttyS11", "serial8250", "4", true);
  sys.tty("ttyS2", "serial8250", "4");  // an 8250 port that was found
  sys.tty("ttyS0", "serial", "4");
  sys.tty("ttyUSB1", "ftdi_sio");
  sys.tty("ttyUSB0", "cp210x");
  sys.tty("ttyACM0", "cdc_acm");
  sys.tty("ttyAMA0", "uart-pl011", "0");  // type 0 only hides 8250 ports
  sys.tty("ttymxc1", "imx-uart", "0");
  sys.tty("ttymxc0", "imx-uart", "0");
  sys.tty("rfcomm0", "bluetooth");
  sys.tty("tty0", "");  // consoles and virtual terminals have no device link
  sys.tty("console", "");
  sys.tty("ttyS4", "");

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"COM1", "/devx/ttyS0"},    {"COM2", "/devx/ttyS2"},   {"COM3", "/devx/ttyS10"},
      {"COM4", "/devx/ttyS11"},   {"COM5", "/devx/ttyAMA0"}, {"COM6", "/devx/ttyUSB0"},
      {"COM7", "/devx/ttyUSB1"},  {"COM8", "/devx/ttyACM0"}, {"COM9", "/devx/rfcomm0"},
      {"COM10", "/devx/ttymxc0"}, {"COM11", "/devx/ttymxc1"}};
  EXPECT_EQ(namesAndPaths(tarvesk_linux::readSysfsPorts(sys.classTty(), "/devx").ports), expected);
}

TEST(SysfsPorts, NoTtyClassListsNothing) {
  EXPECT_TRUE(tarvesk_linux::readSysfsPorts("/nonexistent/class/tty", "/dev").ports.empty());
}

TEST(PortNames, ResolveThroughTheActivePortsOrAsAnAbsolutePath) {
  PortsDirectory dir;
  PseudoTerminal pty;
  makeLink(pty.slavePath(), dir / "COM1");
  makeLink(pty.slavePath(), dir / "COM\xC3\xA9");  // COMé

  EXPECT_EQ(tarvesk_linux::resolvePortName(u"COM1:"), dir / "COM1");
  EXPECT_EQ(tarvesk_linux::resolvePortName(u"COM1"), dir / "COM1");
  EXPECT_EQ(tarvesk_linux::resolvePortName(u"COM\u00e9:"), dir / "COM\xC3\xA9");
  EXPECT_EQ(tarvesk_linux::resolvePortName(u"/dev/ttyUSB7"), "/dev/ttyUSB7");
  for (const std::u16string unknown : {u"COM1::", u"com1:", u"COM2:", u":", u"", u"COM"}) {
    EXPECT_EQ(tarvesk_linux::resolvePortName(unknown), "")
        << std::string(unknown.begin(), unknown.end());
  }
}

}  // namespace
