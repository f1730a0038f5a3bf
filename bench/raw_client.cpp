// The raw C baseline for serial_bench: read, write and poll on the tty, the
// fastest a program can use it. Takes one order a line on stdin, opens the
// tty, says "ready", runs the workload and reports the times it measured.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what) {
  std::fprintf(stderr, "raw client: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

long long nanosOf(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

long long now() { return nanosOf(CLOCK_MONOTONIC); }

void waitFor(int fd, short events) {
  pollfd p{fd, events, 0};
  while (poll(&p, 1, -1) < 0) {
    if (errno != EINTR) {
      fail("poll");
    }
  }
}

// Returns at once with what is queued, waiting in poll() only when nothing is.
ssize_t readSome(int fd, char *buffer, size_t size) {
  for (;;) {
    const ssize_t n = read(fd, buffer, size);
    if (n > 0) {
      return n;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      fail("read");
    }
    waitFor(fd, POLLIN);
  }
}

void writeByte(int fd, char byte) {
  while (write(fd, &byte, 1) != 1) {
    if (errno != EAGAIN && errno != EINTR) {
      fail("write");
    }
    waitFor(fd, POLLOUT);
  }
}

std::string bulkRead(int fd, long total) {
  std::vector<char> buffer(65536);
  const long long start = now();
  for (long got = 0; got < total;) {
    got += readSome(fd, buffer.data(), buffer.size());
  }
  return std::to_string(now() - start);
}

std::string singleByteWrites(int fd, long count) {
  const long long start = now();
  for (long i = 0; i < count; ++i) {
    writeByte(fd, static_cast<char>(i));
  }
  return std::to_string(now() - start);
}

// total bytes in frames of frameBytes, each handed to write() whole.
std::string frameWrites(int fd, long frameBytes, long total) {
  const std::vector<char> frame(static_cast<size_t>(frameBytes));
  const long long start = now();
  for (long sent = 0; sent < total; sent += frameBytes) {
    for (size_t done = 0; done < frame.size();) {
      const ssize_t n = write(fd, frame.data() + done, frame.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (errno == EAGAIN || errno == EINTR) {
        waitFor(fd, POLLOUT);
      } else {
        fail("write");
      }
    }
  }
  return std::to_string(now() - start);
}

std::string roundTrips(int fd, long count) {
  std::vector<long long> samples(static_cast<size_t>(count));
  char byte = 0;
  for (long long &sample : samples) {
    const long long start = now();
    writeByte(fd, byte);
    readSome(fd, &byte, 1);
    sample = now() - start;
  }
  std::string report;
  for (long long sample : samples) {
    report += std::to_string(sample) + ' ';
  }
  return report;
}

// When each of count reads, every one waiting for its byte, returned.
std::string wakeUps(int fd, long count) {
  std::string report;
  char byte = 0;
  for (long i = 0; i < count; ++i) {
    readSome(fd, &byte, 1);
    report += std::to_string(now()) + ' ';
  }
  return report;
}

long long timed(const std::function<void()> &call) {
  const long long start = now();
  call();
  return now() - start;
}

// A read waits until the line goes; then when it returned, and how long each
// call on the gone device takes (read, queue count, line params, write, close).
// Closes fd.
std::string untilGone(int fd) {
  char byte = 0;
  ssize_t n;
  while ((n = read(fd, &byte, 1)) < 0 && (errno == EAGAIN || errno == EINTR)) {
    waitFor(fd, POLLIN);
  }
  const long long noticed = now();
  if (n > 0) {
    fail("a byte came instead of the device going");
  }
  int queued = 0;
  termios settings{};
  const long long took[] = {
      timed([&] { (void)read(fd, &byte, 1); }),
      timed([&] { (void)ioctl(fd, FIONREAD, &queued); }),
      timed([&] { (void)tcsetattr(fd, TCSANOW, &settings); }),
      timed([&] { (void)write(fd, &byte, 1); }),
      timed([&] { close(fd); }),
  };
  std::string report = std::to_string(noticed);
  for (long long t : took) {
    report += ' ' + std::to_string(t);
  }
  return report;
}

std::string idleReadCpu(int fd) {
  char byte = 0;
  const long long before = nanosOf(CLOCK_THREAD_CPUTIME_ID);
  readSome(fd, &byte, 1);
  return std::to_string(nanosOf(CLOCK_THREAD_CPUTIME_ID) - before);
}

}  // namespace

int main() {
  char workload[16];
  char path[256];
  long count = 0;
  while (std::scanf("%15s %255s %ld", workload, path, &count) == 3) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      fail(path);
    }
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    std::printf("ready\n");
    std::fflush(stdout);
    const std::string w = workload;
    if (w == "unplug") {
      std::printf("%s\n", untilGone(fd).c_str());
      std::fflush(stdout);
      continue;
    }
    const std::string report = w == "bulk"     ? bulkRead(fd, count)
                               : w == "writes" ? singleByteWrites(fd, count)
                               : w.rfind("frames-", 0) == 0
                                   ? frameWrites(fd, std::atol(w.c_str() + 7), count)
                               : w == "trips" ? roundTrips(fd, count)
                               : w == "wake"  ? wakeUps(fd, count)
                                              : idleReadCpu(fd);
    close(fd);
    std::printf("%s\n", report.c_str());
    std::fflush(stdout);
  }
  return 0;
}
