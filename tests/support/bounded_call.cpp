#include "bounded_call.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <gtest/gtest.h>

BoundedCall::BoundedCall(std::function<void()> call, std::function<void()> unblock)
    : unblock_(std::move(unblock)), thread_([this, call = std::move(call)] {
        call();
        std::lock_guard<std::mutex> hold(lock_);
        done_ = true;
        changed_.notify_all();
      }) {}

BoundedCall::~BoundedCall() {
  if (!endsWithin(std::chrono::seconds(5))) {
    cutShort("still running at the end of the test");
  }
  thread_.join();
}

bool BoundedCall::endsWithin(Clock::duration limit) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, limit, [this] { return done_; });
}

void BoundedCall::cutShort(const std::string &what) {
  ADD_FAILURE() << "a call was " << what;
  unblock_();
  if (!endsWithin(std::chrono::seconds(5))) {
    std::fprintf(stderr, "a call did not end even when unblocked\n");
    std::_Exit(1);
  }
}

bool finishesWithin(std::chrono::milliseconds limit, const std::function<void()> &call,
                    const std::function<void()> &unblock) {
  BoundedCall running(call, unblock);
  if (running.endsWithin(limit)) {
    return true;
  }
  running.cutShort("still running after " + std::to_string(limit.count()) + " ms");
  return false;
}
