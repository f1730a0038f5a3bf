// Messages for the user: one line on stderr, or in TARVESK_MESSAGE_LOG.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/linux/utf_conversion.h"

namespace {

std::u16string textOf(LPCWSTR text) { return text != nullptr ? std::u16string(text) : u""; }

// "tarvesk: <caption>: <text>\n"; line breaks inside become spaces so that
// one message stays one line.
std::string messageLine(LPCWSTR text, LPCWSTR caption) {
  std::string line = "tarvesk: " + tarvesk_posix::toUtf8(textOf(caption)) + ": " +
                     tarvesk_posix::toUtf8(textOf(text));
  for (char &c : line) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  return line + "\n";
}

// The whole line goes out in one write() so that messages written at the same
// time never interleave; the loop only finishes a write the kernel cut short.
bool writeLine(int fd, const std::string &line) {
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// O_NONBLOCK: a log that is a pipe nobody reads fails at once (and the line
// goes to stderr) instead of holding the caller in open() or write().
bool appendToLog(const char *path, const std::string &line) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    return false;
  }
  const bool written = writeLine(fd, line);
  close(fd);
  return written;
}

}  // namespace

int MessageBoxW(HWND /*hWnd*/, LPCWSTR lpText, LPCWSTR lpCaption, UINT /*uType*/) {
  try {
    const std::string line = messageLine(lpText, lpCaption);
    const char *logPath = std::getenv("TARVESK_MESSAGE_LOG");
    if (logPath == nullptr || *logPath == '\0' || !appendToLog(logPath, line)) {
      writeLine(STDERR_FILENO, line);
    }
  } catch (...) {
    // Out of memory: the message is lost, the caller carries on.
  }
  return IDOK;
}
