// The registry as the port list reads it: HKEY_LOCAL_MACHINE\Drivers\Active,
// opened to enumerate its subkeys, which are the active ports as the port
// namespace had them when the key was opened; each opened to query its one
// string value, "Name" (the port's name and a colon). Any other call is
// refused with ERROR_INVALID_PARAMETER.
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/linux/port_namespace.h"
#include "platform/posix/linux/utf_conversion.h"
#include "platform/posix/win32_calls/handle_tag.h"

using tarvesk_win32_calls::HandleKind;
using tarvesk_win32_calls::recordBehind;

namespace {

enum class KeyKind { kActiveDrivers, kPort };

}  // namespace

// A key handed out by RegOpenKeyExW, freed by RegCloseKey. The "Drivers\Active"
// key keeps the port names as they were when it was opened, so that indices
// stay stable while the caller enumerates; a port key keeps its "Name" value.
struct HKEY__ {
  static constexpr HandleKind kTag = HandleKind::kRegistryKey;
  HandleKind tag = kTag;
  KeyKind kind = KeyKind::kActiveDrivers;
  std::vector<std::u16string> subkeys;
  std::u16string nameValue;
};

namespace {

// A key this layer made, of the given kind; null for anything else.
HKEY__ *ownKey(HKEY key, KeyKind kind) {
  HKEY__ *own = key == HKEY_LOCAL_MACHINE ? nullptr : recordBehind<HKEY__>(key);
  return own != nullptr && own->kind == kind ? own : nullptr;
}

bool isNamed(LPCWSTR name, const std::u16string &expected) {
  return name != nullptr && name == expected;
}

// Why the port directory could not be read, as the registry says it.
LONG errorOfListing(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

LONG openActiveDrivers(PHKEY result) {
  const tarvesk_linux::PortListing listing = tarvesk_linux::readActivePorts();
  if (listing.error != 0) {
    return errorOfListing(listing.error);
  }
  auto key = std::make_unique<HKEY__>();
  for (const tarvesk_linux::PortEntry &port : listing.ports) {
    key->subkeys.push_back(tarvesk_linux::toUtf16(port.name));
  }
  *result = key.release();
  return ERROR_SUCCESS;
}

LONG openPort(const HKEY__ &activeDrivers, LPCWSTR name, PHKEY result) {
  for (const std::u16string &subkey : activeDrivers.subkeys) {
    if (subkey == name) {
      auto key = std::make_unique<HKEY__>();
      key->kind = KeyKind::kPort;
      key->nameValue = subkey + u':';
      *result = key.release();
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
  if (phkResult == nullptr || ulOptions != 0 || lpSubKey == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *phkResult = nullptr;
  try {
    if (hKey == HKEY_LOCAL_MACHINE) {
      if (!isNamed(lpSubKey, u"Drivers\\Active") || samDesired != KEY_ENUMERATE_SUB_KEYS) {
        return ERROR_INVALID_PARAMETER;
      }
      return openActiveDrivers(phkResult);
    }
    const HKEY__ *parent = ownKey(hKey, KeyKind::kActiveDrivers);
    if (parent == nullptr) {
      return ERROR_INVALID_HANDLE;
    }
    if (samDesired != KEY_QUERY_VALUE) {
      return ERROR_INVALID_PARAMETER;
    }
    return openPort(*parent, lpSubKey, phkResult);
  } catch (const std::bad_alloc &) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, FILETIME *lpftLastWriteTime) {
  const HKEY__ *key = ownKey(hKey, KeyKind::kActiveDrivers);
  if (key == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr || lpClass != nullptr ||
      lpcchClass != nullptr || lpftLastWriteTime != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (dwIndex >= key->subkeys.size()) {
    return ERROR_NO_MORE_ITEMS;
  }
  // The count is in units: the buffer's on the way in, the name's (without
  // its terminator) on the way out.
  const std::u16string &name = key->subkeys[dwIndex];
  if (name.size() + 1 > *lpcchName) {
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *lpcchName = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  const HKEY__ *key = ownKey(hKey, KeyKind::kPort);
  if (key == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  if (!isNamed(lpValueName, u"Name") || lpReserved != nullptr || lpType != nullptr ||
      lpData == nullptr || lpcbData == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  // The size is in bytes, terminator included; one too small for the value
  // gets the size it needs.
  const auto size = static_cast<DWORD>((key->nameValue.size() + 1) * sizeof(WCHAR));
  if (*lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpData, key->nameValue.c_str(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  HKEY__ *key = hKey == HKEY_LOCAL_MACHINE ? nullptr : recordBehind<HKEY__>(hKey);
  if (key == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}
