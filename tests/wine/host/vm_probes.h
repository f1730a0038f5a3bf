#pragma once

#include <string>

#include "stand_in_vm.h"

namespace standin {

// Misuses JNI as the probe of that name does, as a native would; the VM must
// end the run naming the misuse (tests/wine/CMakeLists.txt). Returns only if
// it did not, or if there is no such probe.
void runProbe(Vm &vm, const std::string &name);

}  // namespace standin
