#pragma once
// The version this server was built as, the project's own; --version prints it and the
// console's metrics label a series with it, so that a scrape tells which build answers.
#include <string_view>

namespace velmora {

std::string_view BuildVersion();

}  // namespace velmora
