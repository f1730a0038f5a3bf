#include "platform/posix/linux/utf_conversion.h"

namespace tarvesk_linux {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point of the well-formed sequence at text[at], with its length in
// bytes; a malformed one gives 0 bytes.
std::size_t decodeOne(const std::string &text, std::size_t at, char32_t &point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1F;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0F;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      return 0;
    }
    point = (point << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and points beyond U+10FFFF are not UTF-8.
  if (point < min || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
    return 0;
  }
  return length;
}

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

std::u16string toUtf16(const std::string &text) {
  std::u16string result;
  result.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    char32_t point = 0;
    std::size_t length = decodeOne(text, at, point);
    if (length == 0) {
      point = kReplacement;
      length = 1;
    }
    at += length;
    if (point >= 0x10000) {
      point -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(point));
    }
  }
  return result;
}

}  // namespace tarvesk_linux
