#pragma once

#include <chrono>
#include <string>

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
