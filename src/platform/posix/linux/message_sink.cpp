#include "platform/posix/linux/message_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tarvesk_linux {

namespace {

// The whole line goes out in one write(); the loop only finishes a write the
// kernel cut short.
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

void writeMessageLine(const std::string &line) {
  const int savedErrno = errno;  // the caller may still report its own
  const char *logPath = std::getenv("TARVESK_MESSAGE_LOG");
  if (logPath == nullptr || *logPath == '\0' || !appendToLog(logPath, line)) {
    writeLine(STDERR_FILENO, line);
  }
  errno = savedErrno;
}

}  // namespace tarvesk_linux
