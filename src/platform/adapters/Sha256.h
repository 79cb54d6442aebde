#pragma once
#include <string>
#include <string_view>

namespace velmora::platform {

// The 32 raw bytes of the SHA-256 digest of `bytes`.
std::string Sha256Digest(std::string_view bytes);

}  // namespace velmora::platform
