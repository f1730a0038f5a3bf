#pragma once

#include <string>

namespace tarvesk_posix {

// UTF-8 (file names, sysfs) to UTF-16 (registry text); bytes that are not
// well-formed UTF-8 become U+FFFD, one per byte.
std::u16string fromUtf8(const std::string &text);

}  // namespace tarvesk_posix
