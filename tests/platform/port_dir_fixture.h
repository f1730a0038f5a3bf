#pragma once

// Port directories for the tests of the port namespace: scratch directories,
// pseudo-terminals to link to, and TARVESK_PORTS set for one test.
#include <ftw.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace portdir {

// A directory under /tmp, removed with all it holds at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/tarvesk-ports-XXXXXX";
    if (mkdtemp(name) == nullptr) {
      std::abort();
    }
    path = name;
  }
  ~ScratchDir() {
    nftw(
        path.c_str(), [](const char *p, const struct stat *, int, FTW *) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  std::string operator/(const std::string &name) const { return path + "/" + name; }

  std::string path;
};

// A pseudo-terminal pair; the slave's path is what port entries point to.
class Pty {
 public:
  Pty() {
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      std::abort();
    }
    path = name;
  }
  ~Pty() {
    close(slave);
    close(master);
  }
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;

  std::string path;

 private:
  int master = -1;
  int slave = -1;
};

// Sets TARVESK_PORTS for one test (nullptr: unsets it), then puts back what
// was there.
class PortsVariable {
 public:
  explicit PortsVariable(const char *dir) {
    if (const char *old = std::getenv("TARVESK_PORTS")) {
      previous = old;
      hadPrevious = true;
    }
    if (dir != nullptr) {
      setenv("TARVESK_PORTS", dir, 1);
    } else {
      unsetenv("TARVESK_PORTS");
    }
  }
  explicit PortsVariable(const std::string &dir) : PortsVariable(dir.c_str()) {}
  ~PortsVariable() {
    if (hadPrevious) {
      setenv("TARVESK_PORTS", previous.c_str(), 1);
    } else {
      unsetenv("TARVESK_PORTS");
    }
  }

 private:
  std::string previous;
  bool hadPrevious = false;
};

inline void makeLink(const std::string &target, const std::string &path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

}  // namespace portdir
