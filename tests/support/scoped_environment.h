#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

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
