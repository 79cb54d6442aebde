#pragma once
// Descriptors the server keeps free for its own work, whatever its peers do: a log line, the
// rewrite of a network file (the new file and its folder), the database's journal, and the
// geolocation requests with the flag file. A listener sheds a connection, or turns the newcomer
// away, rather than let an accepted peer eat into them.
namespace velmora::platform {

inline constexpr int kDescriptorReserve = 16;

// Whether at least kDescriptorReserve more descriptors can be opened now. `openDescriptor` is
// any descriptor the caller holds open; it is only duplicated.
bool DescriptorReserveIntact(int openDescriptor);

}  // namespace velmora::platform
