#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/platform.h"

// A pseudo-terminal pair from openpty. The test holds the master side and a
// descriptor of its own on the slave (to read the slave's termios); the
// library opens the slave by its path.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal &) = delete;
  PseudoTerminal &operator=(const PseudoTerminal &) = delete;

  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string &slavePath() const { return slavePath_; }
  std::u16string slaveName() const;
  void closeMaster();
  // Writes to the master and waits (bounded) until the slave has it queued.
  void send(const std::string &bytes);
  // What the slave sent, as far as it arrives within the time given.
  std::string receive(std::size_t atMost, std::chrono::milliseconds within);

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

// Runs call on a thread and waits for it at most limit. If it is still
// running then, the test fails and unblock() is called to end it; a call that
// still does not end aborts the test program rather than hang it.
// Returns whether call ended within limit.
bool finishesWithin(std::chrono::milliseconds limit, const std::function<void()> &call,
                    const std::function<void()> &unblock);

// The library's own open: CreateFileW and the settings NativeSerialPort gives.
HANDLE openLikeTheLibrary(const std::u16string &name);
