#pragma once
// Texts are byte strings with no character set of their own, but some readers insist on UTF-8:
// this keeps valid UTF-8 as it is and writes every byte that does not belong to a well-formed
// sequence as U+FFFD.
#include <string>
#include <string_view>

namespace velmora {

std::string ValidUtf8(std::string_view bytes);

}  // namespace velmora
