#pragma once
#include <string>

namespace velmora {

// One user known on one network, as its network file lists it or as registration adds it.
class VelmoraUser {
 public:
  std::string Name;
  std::string LastIP;
  std::string UniqueID;
  bool IsAdmin = false;
  bool IsBanned = false;
  std::string BanBy;
  std::string BanDate;
  std::string BanReason;
  std::string Path;

  bool operator==(const VelmoraUser&) const = default;
};

}  // namespace velmora
