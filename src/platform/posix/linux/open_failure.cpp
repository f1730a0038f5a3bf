#include "platform/posix/linux/open_failure.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace tarvesk_linux {

namespace {

// strerror_r comes in two kinds, GNU and XSI; this takes either's result.
[[maybe_unused]] const char *errorText(const char *gnu, const char *) { return gnu; }
[[maybe_unused]] const char *errorText(int xsi, const char *buffer) {
  return xsi == 0 ? buffer : "unknown error";
}

std::string systemText(int error) {
  char buffer[128] = {};
  return errorText(strerror_r(error, buffer, sizeof buffer), buffer);
}

std::string groupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{};
  group *found = nullptr;
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return "number " + std::to_string(gid);
}

std::string userName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd *found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    return found->pw_name;
  }
  return "number " + std::to_string(geteuid());
}

bool processIsInGroup(gid_t gid) {
  if (getegid() == gid) {
    return true;
  }
  const int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? count : 0);
  const int got = getgroups(static_cast<int>(groups.size()), groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[i] == gid) {
      return true;
    }
  }
  return false;
}

std::string forbidden(const std::string &path) {
  struct stat device {};
  if (stat(path.c_str(), &device) != 0) {
    return "permission denied";
  }
  const std::string group = groupName(device.st_gid);
  if (processIsInGroup(device.st_gid)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned int>(device.st_mode & 07777));
    return "permission denied: the device's mode is " + std::string(mode) + ", group " + group;
  }
  const std::string user = userName();
  return "permission denied: the device belongs to group " + group + ", and user " + user +
         " is not in it; add the user to that group (sudo usermod -aG " + group + " " + user +
         ") and log in again";
}

// The process that holds a flock on the device, as /proc/locks lists it:
// "1: FLOCK  ADVISORY  WRITE 1234 00:05:123 0 EOF" (filesystem device in hex,
// inode). Empty when it cannot tell.
std::string flockHolder(const std::string &path) {
  struct stat device {};
  std::ifstream locks("/proc/locks");
  if (stat(path.c_str(), &device) != 0 || !locks) {
    return std::string();
  }
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string id, kind, advisory, access, pid, where;
    fields >> id >> kind >> advisory >> access >> pid >> where;
    unsigned int fsMajor = 0, fsMinor = 0;
    unsigned long long inode = 0;
    if (kind != "FLOCK" ||
        std::sscanf(where.c_str(), "%x:%x:%llu", &fsMajor, &fsMinor, &inode) != 3 ||
        fsMajor != major(device.st_dev) || fsMinor != minor(device.st_dev) ||
        inode != device.st_ino) {
      continue;
    }
    if (pid == std::to_string(getpid())) {
      return "this program";
    }
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string command;
    std::getline(comm, command);
    return "process " + pid + (command.empty() ? "" : " (" + command + ")");
  }
  return std::string();
}

std::string notATty(const std::string &path) {
  struct stat file {};
  if (stat(path.c_str(), &file) != 0) {
    return "not a serial device";
  }
  const char *kind = S_ISREG(file.st_mode)    ? "a file"
                     : S_ISDIR(file.st_mode)  ? "a directory"
                     : S_ISCHR(file.st_mode)  ? "a device that is no terminal"
                     : S_ISFIFO(file.st_mode) ? "a pipe"
                     : S_ISSOCK(file.st_mode) ? "a socket"
                                              : "no terminal";
  return std::string("not a serial device: ") + kind;
}

std::string causeOf(const std::string &path, int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return "no such device (not plugged in?)";
    case EWOULDBLOCK: {
      const std::string holder = flockHolder(path);
      return "busy: in use by " + (holder.empty() ? std::string("another program") : holder);
    }
    case EBUSY:
      return "busy: another program claimed it for exclusive use (TIOCEXCL)";
    case EACCES:
    case EPERM:
      return forbidden(path);
    case ENOTTY:
    case EISDIR:
      return notATty(path);
    case EMFILE:
      return "no file descriptors left: this program has as many open as its limit allows";
    case ENFILE:
      return "no file descriptors left in the system";
    default:
      return systemText(error);
  }
}

}  // namespace

std::string openFailureLine(const std::string &name, const std::string &path, int error) {
  if (path.empty()) {
    return "tarvesk: no port is named " + name + "\n";
  }
  const std::string where = name == path ? path : name + " (" + path + ")";
  return "tarvesk: " + where + ": " + causeOf(path, error) + "\n";
}

}  // namespace tarvesk_linux
