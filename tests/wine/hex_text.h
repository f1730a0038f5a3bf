#pragma once

// Bytes in the requests and answers between the stand-in VM (host/) and
// wine-far-end: two hex digits each.
#include <cstdio>
#include <string>

template <typename Bytes>
std::string hex(const Bytes &bytes) {
  std::string text;
  char digits[3];
  for (const auto byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(byte));
    text += digits;
  }
  return text;
}

template <typename Bytes>
Bytes unhex(const std::string &text) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(
        static_cast<typename Bytes::value_type>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}
