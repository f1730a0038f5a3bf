#include "platform/posix/linux/port_namespace.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <tuple>

#include "platform/posix/linux/utf_conversion.h"

namespace tarvesk_linux {

namespace {

// The entry names of a directory except "." and "..", unsorted; returns 0 or
// the errno that stopped the reading.
int readEntryNames(const std::string &dir, std::vector<std::string> &names) {
  DIR *stream = opendir(dir.c_str());
  if (stream == nullptr) {
    return errno;
  }
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent *entry = readdir(stream);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  closedir(stream);
  return error;
}

}  // namespace

PortListing readPortsDirectory(const std::string &dir) {
  PortListing listing;
  std::vector<std::string> names;
  listing.error = readEntryNames(dir, names);
  // std::string compares as unsigned bytes.
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    const std::string path = dir + "/" + name;
    struct stat target {};
    // stat follows symlinks; a dangling link or a loop simply fails.
    if (stat(path.c_str(), &target) == 0 && S_ISCHR(target.st_mode)) {
      listing.ports.push_back({name, path});
    }
  }
  return listing;
}

namespace {

// The file name at the end of a symlink's target, empty when there is none.
std::string linkTargetName(const std::string &link) {
  char target[4096];
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  if (length <= 0) {
    return {};
  }
  const std::string path(target, static_cast<std::size_t>(length));
  return path.substr(path.find_last_of('/') + 1);
}

// Whether the device behind a tty belongs to the 8250 driver. Since Linux
// 6.5 a serial port's device is a "port" of the serial core whose parent is
// a "ctrl", and only the grandparent carries the hardware driver.
bool isDrivenBy8250(const std::string &ttyDir) {
  std::string device = ttyDir + "/device";
  for (int level = 0; level < 3; ++level, device += "/..") {
    const std::string driver = linkTargetName(device + "/driver");
    // "serial" is the name of the 8250 driver for PNP and PCI ports.
    if (driver == "serial8250" || driver == "serial") {
      return true;
    }
  }
  return false;
}

// An 8250 port whose UART type is 0 (unknown): the driver reserved the
// minor number, but no chip answers there.
bool isPortWithoutUart(const std::string &ttyDir) {
  std::ifstream typeFile(ttyDir + "/type");
  int type = -1;
  return (typeFile >> type) && type == 0 && isDrivenBy8250(ttyDir);
}

bool hasDeviceLink(const std::string &ttyDir) {
  struct stat link {};
  return lstat((ttyDir + "/device").c_str(), &link) == 0;
}

// Where a tty stands in the list: its family first, then its number.
struct TtyOrder {
  int familyRank;
  std::string prefix;
  bool numbered;
  unsigned long long number;
  std::string name;

  explicit TtyOrder(const std::string &ttyName) : name(ttyName) {
    std::size_t digits = ttyName.size();
    while (digits > 0 && ttyName[digits - 1] >= '0' && ttyName[digits - 1] <= '9') {
      --digits;
    }
    prefix = ttyName.substr(0, digits);
    const std::string suffix = ttyName.substr(digits);
    numbered = !suffix.empty() && suffix.size() < 19;  // longer numbers would overflow
    number = numbered ? std::strtoull(suffix.c_str(), nullptr, 10) : 0;
    constexpr const char *kFamilies[] = {"ttyS", "ttyAMA", "ttyUSB", "ttyACM"};
    familyRank = static_cast<int>(std::size(kFamilies));
    for (std::size_t i = 0; i < std::size(kFamilies); ++i) {
      if (prefix == kFamilies[i]) {
        familyRank = static_cast<int>(i);
      }
    }
  }

  bool operator<(const TtyOrder &other) const {
    // Unnumbered names after the numbered ones of the same prefix; the whole
    // name decides between equal numbers such as ttyX1 and ttyX01.
    return std::tie(familyRank, prefix, numbered, number, name) <
           std::tie(other.familyRank, other.prefix, other.numbered, other.number, other.name);
  }
};

}  // namespace

PortListing readSysfsPorts(const std::string &sysClassTty, const std::string &devDir) {
  PortListing listing;
  std::vector<std::string> names;
  listing.error = readEntryNames(sysClassTty, names);
  std::vector<TtyOrder> ttys;
  for (const std::string &name : names) {
    const std::string ttyDir = sysClassTty + "/" + name;
    if (hasDeviceLink(ttyDir) && !isPortWithoutUart(ttyDir)) {
      ttys.emplace_back(name);
    }
  }
  std::sort(ttys.begin(), ttys.end());
  for (std::size_t i = 0; i < ttys.size(); ++i) {
    listing.ports.push_back({"COM" + std::to_string(i + 1), devDir + "/" + ttys[i].name});
  }
  return listing;
}

PortListing readActivePorts() {
  const char *dir = std::getenv("TARVESK_PORTS");
  if (dir != nullptr && *dir != 0) {
    return readPortsDirectory(dir);
  }
  PortListing listing = readSysfsPorts("/sys/class/tty", "/dev");
  if (listing.error == ENOENT) {
    listing.error = 0;  // no tty class at all: a machine without serial ports
  }
  return listing;
}

std::string resolvePortName(const std::u16string &name) {
  if (name.empty()) {
    return {};
  }
  if (name.front() == u'/') {
    return toUtf8(name);
  }
  std::u16string wanted = name;
  if (wanted.back() == u':') {
    wanted.pop_back();
  }
  if (wanted.empty()) {
    return {};
  }
  for (const PortEntry &entry : readActivePorts().ports) {
    if (toUtf16(entry.name) == wanted) {
      return entry.devicePath;
    }
  }
  return {};
}

}  // namespace tarvesk_linux
