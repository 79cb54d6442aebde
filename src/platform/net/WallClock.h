#pragma once
// The calendar time the server stores and shows (when a ban was made, since when a connection
// is there): the system's, or, while a test's ManualClock is installed, a fixed date moved on
// with that clock, so that a run on manual time writes the same dates every time.
#include <ctime>

namespace velmora::platform {

std::time_t WallTime();

}  // namespace velmora::platform
