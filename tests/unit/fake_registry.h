#pragma once

// A scriptable stand-in for the registry of active drivers, linked into the
// unit tests instead of the Linux layer. It keeps Win32's buffer rules (counts
// in units, sizes in bytes, ERROR_MORE_DATA when a name or value does not fit)
// and logs each call with the count or size the caller offered.
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// One subkey of "Drivers\Active".
struct ActiveDriver {
  std::u16string subkeyName;
  LONG openResult = ERROR_SUCCESS;  // what opening the subkey returns
  bool hasName = true;              // false: querying "Name" gives ERROR_FILE_NOT_FOUND
  // The "Name" value as stored, unit by unit; add the terminator yourself.
  std::u16string nameUnits;
};

struct Registry {
  LONG activeOpenResult = ERROR_SUCCESS;  // what opening "Drivers\Active" returns
  std::vector<ActiveDriver> drivers;      // the subkeys, by index
  DWORD enumFailsAt = MAXDWORD;           // the index whose enumeration fails ...
  LONG enumFailure = ERROR_SUCCESS;       // ... with this code

  std::vector<std::string> calls;
  int openKeys = 0;  // keys opened and not yet closed
};

Registry &registry();
void resetRegistry();

// A driver whose "Name" value is name with its terminator.
ActiveDriver driverNamed(const std::u16string &subkey, const std::u16string &name);

}  // namespace fake
