#pragma once
// Platform-internal: the io_context behind EventLoop. Never included above platform/.
#include <asio.hpp>

namespace velmora::platform {

asio::io_context& IoContext();

}  // namespace velmora::platform
