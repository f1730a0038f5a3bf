#pragma once

#include <vector>

#include "platform/posix/port_namespace.h"

namespace tarvesk_posix {

// The active ports, and why the list may be incomplete: 0, or the errno of
// the directory that could not be read (the registry turns it into its code).
struct PortListing {
  std::vector<PortEntry> ports;
  int error = 0;
};

PortListing readActivePorts();

}  // namespace tarvesk_posix
