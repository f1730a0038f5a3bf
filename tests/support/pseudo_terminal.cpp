#include "pseudo_terminal.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <stdexcept>

#include <gtest/gtest.h>

#include "read_within.h"

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
  return readWithin(master_, atMost, within);
}
