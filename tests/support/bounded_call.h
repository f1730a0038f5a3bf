#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// A call run on a thread of its own, so that one which never returns fails
// the test instead of stalling it. At the end of its scope the call gets 5 s
// more; if it is still running then, the test fails and unblock() is called to
// end it, and a call that still does not end aborts the test program.
class BoundedCall {
 public:
  using Clock = std::chrono::steady_clock;

  BoundedCall(std::function<void()> call, std::function<void()> unblock);
  ~BoundedCall();
  BoundedCall(const BoundedCall &) = delete;
  BoundedCall &operator=(const BoundedCall &) = delete;

  bool endsWithin(Clock::duration limit);
  // Fails the test with what is wrong and ends the call through unblock().
  void cutShort(const std::string &what);

 private:
  std::function<void()> unblock_;
  std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;  // last: it starts once everything it uses is there
};

// Runs call on a thread and waits for it at most limit. If it is still
// running then, the test fails and unblock() is called to end it.
// Returns whether call ended within limit.
bool finishesWithin(std::chrono::milliseconds limit, const std::function<void()> &call,
                    const std::function<void()> &unblock);
