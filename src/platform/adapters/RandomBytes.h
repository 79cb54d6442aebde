#pragma once
#include <cstddef>
#include <string>

namespace velmora::platform {

// `count` bytes from the system's cryptographic random source, for secrets that must not be
// guessed. Throws std::runtime_error when the source cannot give them.
std::string RandomBytes(size_t count);

}  // namespace velmora::platform
