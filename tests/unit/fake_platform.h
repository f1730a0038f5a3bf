#pragma once

// A recording stand-in for the serial-device and message-box services, linked
// into the unit tests instead of the Linux layer. Every call is logged in
// order with its arguments; results come from the script a test sets up.
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct QueueReport {
  bool ok;
  DWORD inQue;
};

struct Platform {
  std::vector<std::string> calls;
  // Run after each call is logged, as another thread might act just then.
  std::function<void(const std::string &call)> onCall;
  std::vector<std::pair<std::string, std::string>> messages;  // (text, caption)

  bool createFails = false;
  bool getCommStateFails = false;
  bool setCommStateFails = false;
  bool setTimeoutsFails = false;
  bool closeFails = false;
  bool readFails = false;

  DCB driverState{};              // what GetCommState reports
  std::vector<DCB> statesSet;     // each record passed to SetCommState
  COMMTIMEOUTS driverTimeouts{};  // what GetCommTimeouts reports
  std::vector<COMMTIMEOUTS> timeoutsSet;

  // ClearCommError answers from the front of this queue; once it is empty it
  // fails, so that a wait a test did not plan for ends instead of hanging.
  std::deque<QueueReport> queueReports;
  // WaitCommEvent answers from here; true when empty.
  std::deque<bool> waitResults;
  // A wait that succeeds reports no event, as Wine's does on a pseudo-terminal.
  bool waitReportsNoEvent = false;

  std::vector<BYTE> input;  // what ReadFile hands out, front first
  // A ReadFile during which PurgeComm aborts reads fails, as on Win32.
  unsigned readAborts = 0;
  std::vector<BYTE> written;  // what WriteFile took
  // WriteFile takes at most this many bytes, as a line that stays full until
  // the time-out passes, and then fails, where writeFails, as when the device
  // goes away part way.
  DWORD writeRoom = MAXDWORD;
  bool writeFails = false;

  // new (std::nothrow) T[n] returns null, as when memory runs out.
  bool memoryRunsOut = false;
};

Platform &platform();
void reset();
HANDLE openHandle();  // the handle a successful CreateFileW returns

std::string narrow(LPCWSTR text);  // ASCII view of a UTF-16 text, for assertions

}  // namespace fake
