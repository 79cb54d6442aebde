#pragma once

namespace velmora::platform {

// Raises the soft limit on open descriptors to the hard limit, so that a listener can hold its
// connections; returns the limit now in force.
long RaiseOpenFileLimit();

}  // namespace velmora::platform
