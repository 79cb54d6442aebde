#pragma once
#include <string>

namespace velmora::admin {

struct AdminOptions;

// The network's password: the first line of --password-file (- for standard input), else a
// prompt without echo on the terminal, else the first line of standard input. Throws
// AdminFailure(kUsage) when there is none.
std::string ReadPassword(const AdminOptions& options);

}  // namespace velmora::admin
