#pragma once
#include <string>
#include <vector>

namespace velmora::platform {

struct NetworkInterface {
  std::string Name;
  // Upper-case hexadecimal pairs joined by ":", for example 02:FC:00:00:00:01.
  std::string MacAddress;
  // The addresses a listener bound to this interface accepts on (IPv4, non-link-local IPv6).
  std::vector<std::string> Addresses;
};

// The interfaces that are up, are not loopback and have a link-layer address, in kernel index
// order.
std::vector<NetworkInterface> ListNetworkInterfaces();

// Format of a MAC address text from raw bytes.
std::string MacAddressText(const unsigned char* bytes, size_t length);

}  // namespace velmora::platform
