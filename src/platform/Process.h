#pragma once
#include <optional>
#include <string>

namespace velmora::platform {

// Raises the soft limit on open descriptors to the hard limit, so that a listener can hold its
// connections; returns the limit now in force.
long RaiseOpenFileLimit();

// The value of the environment variable `name`; nothing when it is unset or empty.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace velmora::platform
