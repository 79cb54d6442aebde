#include "support/FreePort.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>

namespace velmora::testing {

namespace fs = std::filesystem;

namespace {

// Whether nothing holds `port` on any address of `family`.
bool PortIsFree(int family, uint16_t port) {
  int fd = ::socket(family, SOCK_STREAM, 0);
  if (fd < 0) return family == AF_INET6;  // a host without IPv6 has nothing to collide with
  sockaddr_storage address{};
  socklen_t length = 0;
  if (family == AF_INET6) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    auto& any = reinterpret_cast<sockaddr_in6&>(address);
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_any;
    any.sin6_port = htons(port);
    length = sizeof any;
  } else {
    auto& any = reinterpret_cast<sockaddr_in&>(address);
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    length = sizeof any;
  }
  bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  ::close(fd);
  return free;
}

// Test processes run side by side and pick from the same range; a lock held until this process
// ends keeps the others off a port it has handed out, between the check and the server's bind.
bool ClaimPort(uint16_t port) {
  static const std::string folder = [] {
    std::string path = "/tmp/velmora-e2e-ports";
    std::error_code ignored;
    fs::create_directories(path, ignored);
    return path;
  }();
  int fd =
      ::open((folder + "/" + std::to_string(port)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  return true;  // the descriptor stays open, and the lock held, for the rest of the process
}

}  // namespace

uint16_t FreePort() {
  // Below the kernel's ephemeral range: a port from inside it may be taken, between this check
  // and the server's bind, by any client connection of a test running in parallel.
  int low = 32768;
  std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
  range >> low;
  int first = std::max(1024, low - 12000);
  if (low - first < 1000) throw std::runtime_error("no port range below the ephemeral ports");
  static std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  static std::set<uint16_t> handedOut;
  std::uniform_int_distribution<int> pick(first, low - 1);
  for (int attempt = 0; attempt < 500; ++attempt) {
    auto port = static_cast<uint16_t>(pick(random));
    if (handedOut.count(port) || !ClaimPort(port)) continue;
    handedOut.insert(port);
    if (PortIsFree(AF_INET, port) && PortIsFree(AF_INET6, port)) return port;
  }
  throw std::runtime_error("no free port");
}

}  // namespace velmora::testing
