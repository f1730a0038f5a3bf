#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace fake {

namespace {
Platform state;
int handleTarget;  // only its address is used

std::string hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

bool known(HANDLE h) { return h == openHandle(); }
}  // namespace

Platform &platform() { return state; }
void reset() { state = Platform{}; }
HANDLE openHandle() { return &handleTarget; }

std::string narrow(LPCWSTR text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) {
    out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  }
  return out;
}

}  // namespace fake

using fake::state;

namespace {
void record(const std::string &call) {
  state.calls.push_back(call);
  if (state.onCall) {
    state.onCall(call);
  }
}
}  // namespace

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES *security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  record("CreateFileW(" + fake::narrow(name) + "," + fake::hex(access) + "," +
         std::to_string(share) + "," + (security ? "attrs" : "null") + "," +
         std::to_string(disposition) + "," + std::to_string(flags) + "," +
         (templateFile ? "template" : "null") + ")");
  return state.createFails ? INVALID_HANDLE_VALUE : fake::openHandle();
}

BOOL CloseHandle(HANDLE h) {
  record("CloseHandle");
  return fake::known(h) && !state.closeFails;
}

BOOL GetCommState(HANDLE h, LPDCB dcb) {
  record("GetCommState(" + std::to_string(dcb->DCBlength) + ")");
  if (!fake::known(h) || state.getCommStateFails) {
    return FALSE;
  }
  const DWORD length = dcb->DCBlength;  // a driver fills the record the caller sized
  *dcb = state.driverState;
  dcb->DCBlength = length;
  return TRUE;
}

BOOL SetCommState(HANDLE h, LPDCB dcb) {
  record("SetCommState");
  state.statesSet.push_back(*dcb);
  if (!fake::known(h) || state.setCommStateFails) {
    return FALSE;
  }
  state.driverState = *dcb;
  return TRUE;
}

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  record("GetCommTimeouts");
  if (!fake::known(h)) {
    return FALSE;
  }
  *timeouts = state.driverTimeouts;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  record("SetCommTimeouts");
  state.timeoutsSet.push_back(*timeouts);
  return fake::known(h) && !state.setTimeoutsFails;
}

BOOL EscapeCommFunction(HANDLE h, DWORD function) {
  record("EscapeCommFunction(" + std::to_string(function) + ")");
  return fake::known(h);
}

BOOL ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT status) {
  record("ClearCommError");
  if (!fake::known(h) || state.queueReports.empty()) {
    return FALSE;
  }
  const fake::QueueReport report = state.queueReports.front();
  state.queueReports.pop_front();
  if (errors != nullptr) {
    *errors = 0;
  }
  if (status != nullptr) {
    status->cbInQue = report.inQue;
  }
  return report.ok;
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
  record("SetCommMask(" + std::to_string(mask) + ")");
  return fake::known(h);
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
  record("PurgeComm(" + std::to_string(flags) + ")");
  state.readAborts += (flags & PURGE_RXABORT) != 0 ? 1 : 0;
  return fake::known(h);
}

BOOL WaitCommEvent(HANDLE h, LPDWORD events, OVERLAPPED *overlapped) {
  record(std::string("WaitCommEvent(") + (overlapped ? "overlapped" : "null") + ")");
  bool ok = true;
  if (!state.waitResults.empty()) {
    ok = state.waitResults.front();
    state.waitResults.pop_front();
  }
  *events = ok && !state.waitReportsNoEvent ? EV_RXCHAR : 0;
  return fake::known(h) && ok;
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read, OVERLAPPED *overlapped) {
  const unsigned abortsBefore = state.readAborts;
  record("ReadFile(" + std::to_string(count) + (overlapped ? ",overlapped)" : ")"));
  *read = 0;
  if (!fake::known(h) || state.readFails || state.readAborts != abortsBefore) {
    return FALSE;
  }
  const DWORD n = std::min<DWORD>(count, static_cast<DWORD>(state.input.size()));
  std::copy_n(state.input.begin(), n, static_cast<BYTE *>(buffer));
  state.input.erase(state.input.begin(), state.input.begin() + n);
  *read = n;
  return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written, OVERLAPPED *overlapped) {
  record("WriteFile(" + std::to_string(count) + (overlapped ? ",overlapped)" : ")"));
  *written = 0;
  if (!fake::known(h)) {
    return FALSE;
  }
  const BYTE *bytes = static_cast<const BYTE *>(buffer);
  const DWORD taken = std::min(count, state.writeRoom);
  state.written.insert(state.written.end(), bytes, bytes + taken);
  *written = taken;
  return !state.writeFails;
}

void Sleep(DWORD milliseconds) { record("Sleep(" + std::to_string(milliseconds) + ")"); }

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  record(std::string("MessageBoxW(") + (owner ? "owner" : "null") + "," + std::to_string(type) +
         ")");
  state.messages.emplace_back(fake::narrow(text), fake::narrow(caption));
  return IDOK;
}

// Replaces the standard one for the whole test program. What it hands out
// comes from the ordinary new[], so delete[] frees it as before.
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  if (state.memoryRunsOut) {
    return nullptr;
  }
  try {
    return ::operator new[](size);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}
