#pragma once

// The Linux platform's word for what it tells the user is "message".
// Where the library's messages for the user go: stderr, or the file named by
// TARVESK_MESSAGE_LOG when that is set and can be written.
#include <string>

namespace tarvesk_linux {

// Writes line (ending in '\n') whole, so that lines written at the same time
// never interleave.
void writeMessageLine(const std::string &line);

}  // namespace tarvesk_linux
