#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/handle_tag.h"
#include "platform/posix/last_error.h"
#include "platform/posix/port_namespace.h"
#include "platform/posix/utf_conversion.h"

namespace {

enum class KeyKind { kActiveDrivers, kPort };

}  // namespace

// A key handed out by RegOpenKeyExW, freed by RegCloseKey. The "Drivers\Active"
// key keeps the port names as they were when it was opened, so that indices
// stay stable while the caller enumerates; a port key keeps its "Name" value.
struct HKEY__ {
  static constexpr tarvesk_posix::HandleKind kTag = tarvesk_posix::HandleKind::kRegistryKey;
  tarvesk_posix::HandleKind tag = kTag;
  KeyKind kind = KeyKind::kActiveDrivers;
  std::vector<std::u16string> subkeys;
  std::u16string nameValue;
};

namespace {

// Everything that could change a key; this registry is read only.
constexpr REGSAM kWriteAccess = 0x0002 | 0x0004 | 0x0020 |  // set value, create subkey, link
                                0x00010000 | 0x00040000 | 0x00080000 |  // delete, DAC, owner
                                0x10000000 | 0x40000000;                // generic all, write

// HKEY_CLASSES_ROOT to HKEY_DYN_DATA: handles that are never opened or freed.
// Like HKEY_LOCAL_MACHINE they are 32-bit values widened with their sign.
bool isPredefined(HKEY key) {
  const auto value = reinterpret_cast<std::intptr_t>(key);
  return value >= static_cast<LONG>(0x80000000u) && value <= static_cast<LONG>(0x80000006u);
}

HKEY__ *ownKey(HKEY key) {
  return isPredefined(key) ? nullptr : tarvesk_posix::recordBehind<HKEY__>(key);
}

// Registry key and value names ignore case, as on Windows.
bool sameNameIgnoringCase(LPCWSTR name, const std::u16string &expected) {
  const auto fold = [](char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
  };
  std::size_t i = 0;
  for (; i < expected.size(); ++i) {
    if (name[i] == 0 || fold(name[i]) != fold(expected[i])) {
      return false;
    }
  }
  return name[i] == 0;
}

LONG openActiveDrivers(REGSAM access, PHKEY result) {
  if ((access & kWriteAccess) != 0) {
    return ERROR_ACCESS_DENIED;
  }
  const tarvesk_posix::PortListing listing = tarvesk_posix::readActivePorts();
  if (listing.error != 0) {
    return static_cast<LONG>(tarvesk_posix::win32Error(listing.error));
  }
  auto key = std::make_unique<HKEY__>();
  for (const tarvesk_posix::PortEntry &port : listing.ports) {
    key->subkeys.push_back(tarvesk_posix::toUtf16(port.name));
  }
  *result = key.release();
  return ERROR_SUCCESS;
}

LONG openPort(const HKEY__ &activeDrivers, LPCWSTR name, REGSAM access, PHKEY result) {
  // Port names are file names, so they keep their case.
  const std::u16string wanted(name);
  for (const std::u16string &subkey : activeDrivers.subkeys) {
    if (subkey == wanted) {
      if ((access & kWriteAccess) != 0) {
        return ERROR_ACCESS_DENIED;
      }
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

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   PHKEY phkResult) {
  if (phkResult == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *phkResult = nullptr;
  try {
    if (hKey == HKEY_LOCAL_MACHINE) {
      if (lpSubKey == nullptr || !sameNameIgnoringCase(lpSubKey, u"Drivers\\Active")) {
        return ERROR_FILE_NOT_FOUND;
      }
      return openActiveDrivers(samDesired, phkResult);
    }
    if (isPredefined(hKey)) {
      return ERROR_FILE_NOT_FOUND;
    }
    const HKEY__ *parent = ownKey(hKey);
    if (parent == nullptr) {
      return ERROR_INVALID_HANDLE;
    }
    if (parent->kind != KeyKind::kActiveDrivers || lpSubKey == nullptr) {
      return ERROR_FILE_NOT_FOUND;
    }
    return openPort(*parent, lpSubKey, samDesired, phkResult);
  } catch (const std::bad_alloc &) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, FILETIME *lpftLastWriteTime) {
  const HKEY__ *key = ownKey(hKey);
  if (key == nullptr) {
    return isPredefined(hKey) ? ERROR_NO_MORE_ITEMS : ERROR_INVALID_HANDLE;
  }
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr ||
      (lpClass != nullptr && lpcchClass == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (dwIndex >= key->subkeys.size()) {
    return ERROR_NO_MORE_ITEMS;
  }
  const std::u16string &name = key->subkeys[dwIndex];
  // The count is in units and must leave room for the terminator; on success
  // it becomes the name's length without it.
  if (name.size() + 1 > *lpcchName || (lpClass != nullptr && *lpcchClass < 1)) {
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass != nullptr) {
    lpClass[0] = 0;
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime != nullptr) {
    *lpftLastWriteTime = FILETIME{};
  }
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  const HKEY__ *key = ownKey(hKey);
  if (key == nullptr) {
    return isPredefined(hKey) ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
  }
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (key->kind != KeyKind::kPort || lpValueName == nullptr ||
      !sameNameIgnoringCase(lpValueName, u"Name")) {
    return ERROR_FILE_NOT_FOUND;
  }
  // The size is in bytes, terminator included.
  const auto size = static_cast<DWORD>((key->nameValue.size() + 1) * sizeof(WCHAR));
  if (lpType != nullptr) {
    *lpType = REG_SZ;
  }
  if (lpData == nullptr) {
    if (lpcbData != nullptr) {
      *lpcbData = size;
    }
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpData, key->nameValue.c_str(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  if (isPredefined(hKey)) {
    return ERROR_SUCCESS;
  }
  HKEY__ *key = ownKey(hKey);
  if (key == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}
