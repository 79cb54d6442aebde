#pragma once
// Platform-internal: the Asio types behind sockets, channels and acceptors.
#include <memory>
#include <string>

#include "platform/net/AsioContext.h"

namespace velmora::platform {

using TcpSocket = asio::basic_stream_socket<asio::ip::tcp, asio::io_context::executor_type>;
using TcpAcceptor = asio::basic_socket_acceptor<asio::ip::tcp, asio::io_context::executor_type>;

// The address of an endpoint as operators write it: IPv4-mapped IPv6 in dotted form.
std::string AddressText(const asio::ip::address& address);

// Opens, binds and listens on `endpoint`; a dual-stack IPv6 endpoint falls back to IPv4 on a
// host without IPv6. Returns the system's error number, 0 when listening.
int OpenAcceptor(TcpAcceptor& acceptor, asio::ip::tcp::endpoint endpoint, bool dualStack);

}  // namespace velmora::platform
