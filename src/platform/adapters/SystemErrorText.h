#pragma once
#include <cstdint>
#include <string>

namespace velmora::platform {

// The system's own words for an error number (an errno value, as the socket layer reports it).
std::string SystemErrorText(int64_t code);

}  // namespace velmora::platform
