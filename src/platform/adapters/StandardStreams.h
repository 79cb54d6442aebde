#pragma once
// The process's standard output and standard error, written straight to their descriptors: a
// line is whole on the terminal or in the journal when the call returns.
#include <string_view>

namespace velmora::platform {

// Failures are ignored: a closed or broken stream has nobody left to tell.
void WriteStandardOutput(std::string_view text);
void WriteStandardError(std::string_view text);

}  // namespace velmora::platform
