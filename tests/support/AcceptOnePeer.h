#pragma once
// A connection of the server's own making on the accepting side of a real TCP connection, for
// tests of what a connection does over a socket: the server's listener takes the peer up, but
// hands it this one connection object.
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/net/TcpConnection.h"

namespace velmora::testing {

// Listens on `port` of the loopback address until one peer connects or `limit` passes, running
// the event loop meanwhile. True when `connection` is connected to that peer.
bool AcceptOnePeer(const std::shared_ptr<platform::TcpConnection>& connection, uint16_t port,
                   std::chrono::milliseconds limit = std::chrono::seconds(3));

}  // namespace velmora::testing
