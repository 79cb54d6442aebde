#pragma once
#include <string>
#include <string_view>

namespace velmora::platform {

// The 16 raw bytes of the MD5 digest of `bytes`.
std::string Md5Digest(std::string_view bytes);
// Compares two byte strings in time that does not depend on where they differ.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace velmora::platform
