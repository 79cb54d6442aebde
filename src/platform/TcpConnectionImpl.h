#pragma once
// Platform-internal: the Asio objects behind a TcpConnection.
#include <memory>
#include <optional>

#include "platform/AsioContext.h"
#include "platform/TcpConnection.h"

namespace velmora::platform {

struct TcpConnection::Impl {
  asio::ip::tcp::socket socket{IoContext()};
  // The peer as the accept saw it: a peer that reset the connection before it was taken up has
  // no address to ask for any more.
  asio::ip::tcp::endpoint acceptedPeer;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor;  // only for Listen
  std::unique_ptr<asio::ip::tcp::resolver> resolver;  // only for Connect
};

// The address of an endpoint as operators write it: IPv4-mapped IPv6 in dotted form.
std::string AddressText(const asio::ip::address& address);

}  // namespace velmora::platform
