#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

// What a test changes around the process, undone when it ends.

// A fresh directory, removed with everything in it.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char pattern[] = "/tmp/tarvesk-platform-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
};

// The path of an entry of a directory.
inline std::string operator/(const TempDir &dir, const std::string &name) {
  return (dir.path / name).string();
}

inline void makeLink(const std::string &target, const std::string &path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

// An environment variable set for the test's lifetime only.
struct ScopedEnv {
  std::string name;
  std::optional<std::string> old;
  ScopedEnv(const char *variable, const std::string &value) : name(variable) {
    if (const char *was = getenv(variable)) old = was;
    setenv(variable, value.c_str(), 1);
  }
  ~ScopedEnv() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
};

// A fresh directory, the port directory (TARVESK_PORTS) while it lives.
struct PortsDirectory : TempDir {
  ScopedEnv setting{"TARVESK_PORTS", path.string()};
};

// A fresh file in a directory of its own, the message log (TARVESK_MESSAGE_LOG)
// while it lives.
struct MessageLog {
  TempDir dir;
  std::filesystem::path file = dir.path / "messages.log";
  ScopedEnv setting{"TARVESK_MESSAGE_LOG", file.string()};

  std::string text() const {
    std::ifstream in(file);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
};
