#pragma once

// The one wait for input a handle may have in progress, as on Win32: while it
// is claimed, SetCommMask and PurgeComm wake it through the record's wakeFd.
#include "platform/posix/win32_calls/port_record.h"

namespace tarvesk_win32_calls {

class WaitInProgress {
 public:
  explicit WaitInProgress(PortRecord &port) : port(port), claimed(!port.waiting.exchange(true)) {}
  ~WaitInProgress() {
    if (claimed) {
      port.waiting = false;
    }
  }
  WaitInProgress(const WaitInProgress &) = delete;
  WaitInProgress &operator=(const WaitInProgress &) = delete;

  bool isClaimed() const { return claimed; }

 private:
  PortRecord &port;
  bool claimed;
};

}  // namespace tarvesk_win32_calls
