#pragma once

#include <time.h>

#include <chrono>

// The processor time the calling thread has used so far.
inline std::chrono::nanoseconds threadCpuTime() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}
