#pragma once

// GoogleTest's Notification on a Win32 event: its own needs std::mutex and
// std::condition_variable, which the Win32 thread model of mingw-w64's
// libstdc++ lacks. The build includes this ahead of every source.
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event); }
  Notification(const Notification &) = delete;
  Notification &operator=(const Notification &) = delete;

  void Notify() { SetEvent(event); }
  void WaitForNotification() { WaitForSingleObject(event, INFINITE); }

 private:
  HANDLE event;
};

}  // namespace testing::internal
