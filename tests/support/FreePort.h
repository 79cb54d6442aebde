#pragma once
// TCP ports for a test to listen on, picked so that tests running side by side never share one.
#include <cstdint>

namespace velmora::testing {

// A port that nothing holds right now on any IPv4 or IPv6 address, outside the range the kernel
// hands to client sockets; no other test process is handed it while this one runs.
uint16_t FreePort();

}  // namespace velmora::testing
