#pragma once

// Text between the library's UTF-16 and Linux's UTF-8 (file names, sysfs,
// messages). What is not well-formed becomes U+FFFD.
#include <string>

namespace tarvesk_linux {

// Unpaired surrogates become U+FFFD.
std::string toUtf8(const std::u16string &text);

// Each byte that is not part of a well-formed sequence becomes U+FFFD.
std::u16string toUtf16(const std::string &text);

}  // namespace tarvesk_linux
