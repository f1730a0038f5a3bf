#include <cstdarg>

#include "platform/platform.h"

namespace {

// Like Win32, formatting never writes more than 1024 units, terminator
// included, whatever the caller's buffer holds.
constexpr std::size_t kFormatLimit = 1024;

// Appends to a buffer of kFormatLimit units, silently dropping what would not
// fit before the terminator.
class FormatOutput {
 public:
  explicit FormatOutput(LPWSTR buffer) : buffer(buffer) {}

  void put(WCHAR unit) {
    if (count < kFormatLimit - 1) {
      buffer[count++] = unit;
    }
  }
  void put(LPCWSTR text) {
    for (; *text != 0; ++text) {
      put(*text);
    }
  }
  void putDecimal(unsigned long long magnitude, bool negative) {
    WCHAR digits[24];
    std::size_t length = 0;
    do {
      digits[length++] = static_cast<WCHAR>(u'0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
      put(u'-');
    }
    while (length > 0) {
      put(digits[--length]);
    }
  }
  int finish() {
    buffer[count] = 0;
    return static_cast<int>(count);
  }

 private:
  LPWSTR buffer;
  std::size_t count = 0;
};

}  // namespace

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  FormatOutput out(buffer);
  for (LPCWSTR p = format; *p != 0; ++p) {
    if (*p != u'%') {
      out.put(*p);
      continue;
    }
    ++p;
    // Win32 sizes: 'l' is 32 bits there, the same as int, and 'h' is promoted.
    while (*p == u'l' || *p == u'h') {
      ++p;
    }
    if (*p == 0) {
      break;
    }
    switch (*p) {
      case u'd':
      case u'i': {
        const long long value = va_arg(args, int);
        out.putDecimal(static_cast<unsigned long long>(value < 0 ? -value : value), value < 0);
        break;
      }
      case u'u':
        out.putDecimal(va_arg(args, unsigned int), false);
        break;
      case u's': {
        LPCWSTR text = va_arg(args, LPCWSTR);
        out.put(text != nullptr ? text : u"(null)");
        break;
      }
      default:  // "%%" and unknown conversions give the character itself
        out.put(*p);
        break;
    }
  }
  va_end(args);
  return out.finish();
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
