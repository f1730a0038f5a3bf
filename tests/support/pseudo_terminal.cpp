#include "pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

PseudoTerminal::PseudoTerminal() {
  char name[128] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  slavePath_ = name;
  // The master side raw too, so bytes come back exactly as the slave sent them.
  termios raw{};
  tcgetattr(master_, &raw);
  cfmakeraw(&raw);
  tcsetattr(master_, TCSANOW, &raw);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() {
  closeMaster();
  close(slave_);
}

std::u16string PseudoTerminal::slaveName() const {
  return std::u16string(slavePath_.begin(), slavePath_.end());
}

void PseudoTerminal::closeMaster() {
  if (master_ >= 0) {
    close(master_);
    master_ = -1;
  }
}

void PseudoTerminal::send(const std::string &bytes) {
  ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  int queued = 0;
  for (int tries = 0; tries < 500; ++tries) {
    ioctl(slave_, FIONREAD, &queued);
    if (queued >= static_cast<int>(bytes.size())) {
      return;
    }
    usleep(2000);
  }
  FAIL() << "the slave never saw the bytes written to the master";
}

std::string PseudoTerminal::receive(std::size_t atMost, std::chrono::milliseconds within) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + within;
  while (got.size() < atMost && std::chrono::steady_clock::now() < end) {
    pollfd wait{master_, POLLIN, 0};
    poll(&wait, 1, 10);
    char chunk[4096];
    const ssize_t n = read(master_, chunk, std::min(sizeof chunk, atMost - got.size()));
    if (n > 0) {
      got.append(chunk, static_cast<std::size_t>(n));
    }
  }
  return got;
}

bool finishesWithin(std::chrono::milliseconds limit, const std::function<void()> &call,
                    const std::function<void()> &unblock) {
  std::mutex lock;
  std::condition_variable changed;
  bool done = false;
  std::thread runner([&] {
    call();
    std::lock_guard<std::mutex> hold(lock);
    done = true;
    changed.notify_all();
  });
  std::unique_lock<std::mutex> hold(lock);
  const bool inTime = changed.wait_for(hold, limit, [&] { return done; });
  if (!inTime) {
    ADD_FAILURE() << "call still running after " << limit.count() << " ms";
    hold.unlock();
    unblock();
    hold.lock();
    if (!changed.wait_for(hold, std::chrono::seconds(5), [&] { return done; })) {
      std::fprintf(stderr, "call did not end even when unblocked\n");
      std::_Exit(1);
    }
  }
  hold.unlock();
  runner.join();
  return inTime;
}

HANDLE openLikeTheLibrary(const std::u16string &name) {
  HANDLE port = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    return port;
  }
  DCB dcb{};
  GetCommState(port, &dcb);
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fParity = 1;
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 10, 1000};
  EXPECT_TRUE(SetCommState(port, &dcb));
  EXPECT_TRUE(SetCommTimeouts(port, &timeouts));
  return port;
}
