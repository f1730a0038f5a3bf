#pragma once

// Handles are the addresses of records this layer made: a serial device's
// (HANDLE) or a registry key's (HKEY). With no table of handles (the library
// keeps no state outside its records), each record begins with the tag of its
// kind, which tells it from a handle of the other kind or a stray pointer. A
// handle used after it was closed is undefined, as on Win32, where its value
// may by then name something else.
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tarvesk_win32_calls {

enum class HandleKind : std::uint32_t { kSerialDevice = 0x76726553, kRegistryKey = 0x7947654b };

// The Record behind handle, or nullptr when it is null or not tagged as one.
// Record begins with its tag, `HandleKind tag = Record::kTag;`.
template <typename Record>
Record *recordBehind(void *handle) {
  static_assert(std::is_standard_layout_v<Record>, "the tag is the record's first bytes");
  if (handle == nullptr) {
    return nullptr;
  }
  HandleKind tag{};
  std::memcpy(&tag, handle, sizeof tag);
  return tag == Record::kTag ? static_cast<Record *>(handle) : nullptr;
}

}  // namespace tarvesk_win32_calls
