#include "fake_registry.h"

#include <cstring>

#include "fake_platform.h"

// The fake's key: the "Drivers\Active" key (no driver) or one driver's key.
struct HKEY__ {
  const fake::ActiveDriver *driver;
};

namespace fake {

namespace {
Registry state;
}  // namespace

Registry &registry() { return state; }
void resetRegistry() { state = Registry{}; }

ActiveDriver driverNamed(const std::u16string &subkey, const std::u16string &name) {
  ActiveDriver driver;
  driver.subkeyName = subkey;
  driver.nameUnits = name + u'\0';
  return driver;
}

}  // namespace fake

using fake::state;

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
  const std::string parent = hKey == HKEY_LOCAL_MACHINE ? "HKLM" : "active";
  state.calls.push_back("RegOpenKeyExW(" + parent + "," + fake::narrow(lpSubKey) + "," +
                        std::to_string(ulOptions) + "," + std::to_string(samDesired) + ")");
  const fake::ActiveDriver *driver = nullptr;
  if (hKey == HKEY_LOCAL_MACHINE) {
    if (state.activeOpenResult != ERROR_SUCCESS) {
      return state.activeOpenResult;
    }
  } else {
    for (const fake::ActiveDriver &candidate : state.drivers) {
      if (candidate.subkeyName == lpSubKey) {
        driver = &candidate;
      }
    }
    if (driver == nullptr) {
      return ERROR_FILE_NOT_FOUND;
    }
    if (driver->openResult != ERROR_SUCCESS) {
      return driver->openResult;
    }
  }
  *phkResult = new HKEY__{driver};
  ++state.openKeys;
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, FILETIME *lpftLastWriteTime) {
  state.calls.push_back("RegEnumKeyExW(" + std::to_string(dwIndex) + "," +
                        std::to_string(*lpcchName) + ")");
  if (lpReserved != nullptr || lpClass != nullptr || lpcchClass != nullptr ||
      lpftLastWriteTime != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (dwIndex == state.enumFailsAt) {
    return state.enumFailure;
  }
  if (dwIndex >= state.drivers.size()) {
    return ERROR_NO_MORE_ITEMS;
  }
  const std::u16string &name = state.drivers[dwIndex].subkeyName;
  if (name.size() + 1 > *lpcchName) {
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *lpcchName = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD, LPBYTE lpData,
                      LPDWORD lpcbData) {
  state.calls.push_back("RegQueryValueExW(" + fake::narrow(lpValueName) + "," +
                        std::to_string(*lpcbData) + ")");
  const fake::ActiveDriver *driver = hKey->driver;
  if (driver == nullptr || !driver->hasName || std::u16string(lpValueName) != u"Name") {
    return ERROR_FILE_NOT_FOUND;
  }
  const auto size = static_cast<DWORD>(driver->nameUnits.size() * sizeof(WCHAR));
  if (size > *lpcbData) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpData, driver->nameUnits.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  state.calls.push_back(std::string("RegCloseKey(") + (hKey->driver ? "driver" : "active") + ")");
  delete hKey;
  --state.openKeys;
  return ERROR_SUCCESS;
}
