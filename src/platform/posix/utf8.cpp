// UTF-16 to UTF-8 for text that leaves the library (messages, device names).
#include <string>

#include "platform/posix/port_namespace.h"

namespace tarvesk_posix {

namespace {

void appendCodePoint(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string toUtf8(const std::u16string &text) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      appendCodePoint(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      appendCodePoint(out, kReplacement);
    } else {
      appendCodePoint(out, unit);
    }
  }
  return out;
}

}  // namespace tarvesk_posix
