#include "platform/net/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <map>

namespace velmora::platform {

std::string MacAddressText(const unsigned char* bytes, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    if (i > 0) text += ':';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 15];
  }
  return text;
}

std::vector<NetworkInterface> ListNetworkInterfaces() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return {};
  std::map<unsigned, NetworkInterface> byIndex;
  std::map<std::string, std::vector<std::string>> addresses;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr) continue;
    if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    int family = entry->ifa_addr->sa_family;
    if (family == AF_PACKET) {
      auto* link = reinterpret_cast<sockaddr_ll*>(entry->ifa_addr);
      if (link->sll_halen == 0) continue;
      NetworkInterface& nic = byIndex[static_cast<unsigned>(link->sll_ifindex)];
      nic.Name = entry->ifa_name;
      nic.MacAddress = MacAddressText(link->sll_addr, link->sll_halen);
    } else if (family == AF_INET || family == AF_INET6) {
      char text[INET6_ADDRSTRLEN] = {};
      if (family == AF_INET) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
      } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(entry->ifa_addr);
        if (IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr)) continue;
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
      }
      addresses[entry->ifa_name].push_back(text);
    }
  }
  ::freeifaddrs(list);
  std::vector<NetworkInterface> result;
  for (auto& [index, nic] : byIndex) {
    if (nic.MacAddress.empty()) continue;
    nic.Addresses = addresses[nic.Name];
    result.push_back(std::move(nic));
  }
  return result;
}

}  // namespace velmora::platform
