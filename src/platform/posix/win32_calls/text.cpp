#include <cerrno>
#include <cstdarg>

#include "platform/platform.h"

namespace {

// Like Win32, formatting never writes more than 1024 units, terminator
// included, whatever the caller's buffer holds.
constexpr std::size_t kFormatLimit = 1024;

}  // namespace

// %d is the one conversion the library formats with; any other ends the text
// where it stands and the call fails (-1, errno EINVAL).
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  std::size_t count = 0;
  const auto put = [&](WCHAR unit) {
    if (count < kFormatLimit - 1) {
      buffer[count++] = unit;
    }
  };
  bool failed = false;
  for (LPCWSTR p = format; *p != 0; ++p) {
    if (*p != u'%') {
      put(*p);
      continue;
    }
    if (*++p != u'd') {
      failed = true;
      break;
    }
    const int value = va_arg(args, int);
    unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : value;
    WCHAR digits[10];
    std::size_t length = 0;
    do {
      digits[length++] = static_cast<WCHAR>(u'0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
      put(u'-');
    }
    while (length > 0) {
      put(digits[--length]);
    }
  }
  va_end(args);
  buffer[count] = 0;
  if (failed) {
    errno = EINVAL;
    return -1;
  }
  return static_cast<int>(count);
}

std::size_t wcslen(LPCWSTR text) {
  std::size_t length = 0;
  while (text[length] != 0) {
    ++length;
  }
  return length;
}

int wcsncmp(LPCWSTR left, LPCWSTR right, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (left[i] != right[i]) {
      // Units compare as unsigned 16-bit numbers.
      return left[i] < right[i] ? -1 : 1;
    }
    if (left[i] == 0) {
      break;
    }
  }
  return 0;
}
