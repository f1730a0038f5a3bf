#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

// What arrives on fd within the time given, at most atMost bytes; fd is
// non-blocking. A pseudo-terminal master whose slave nobody holds open polls
// POLLHUP: it is asked again every few milliseconds, not in a busy loop.
inline std::string readWithin(int fd, std::size_t atMost, std::chrono::milliseconds within) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + within;
  while (got.size() < atMost && std::chrono::steady_clock::now() < end) {
    pollfd wait{fd, POLLIN, 0};
    poll(&wait, 1, 10);
    char chunk[4096];
    const ssize_t n = read(fd, chunk, std::min(sizeof chunk, atMost - got.size()));
    if (n > 0) {
      got.append(chunk, static_cast<std::size_t>(n));
    } else if ((wait.revents & POLLHUP) != 0) {
      usleep(5000);
    }
  }
  return got;
}
