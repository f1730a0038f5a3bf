#include <time.h>

#include <cerrno>

#include "platform/platform.h"

// Sleeps the whole time even when signals interrupt it.
void Sleep(DWORD dwMilliseconds) {
  timespec left{static_cast<time_t>(dwMilliseconds / 1000),
                static_cast<long>(dwMilliseconds % 1000) * 1'000'000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
