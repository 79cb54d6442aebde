#pragma once
#include <memory>
#include <string>

namespace velmora {

// One user known on one network, as its network file lists it or as registration adds it. A
// network may know many thousands: what the server only carries from the file (the UID and the
// ban notes) is kept out of line, and the file's location is kept once for all users of it.
class VelmoraUser {
 public:
  std::string Name;
  std::string LastIP;
  bool IsAdmin = false;
  bool IsBanned = false;

  VelmoraUser() = default;
  VelmoraUser(const VelmoraUser& other);
  VelmoraUser& operator=(const VelmoraUser& other);
  VelmoraUser(VelmoraUser&&) noexcept = default;
  VelmoraUser& operator=(VelmoraUser&&) noexcept = default;

  const std::string& UniqueID() const { return notes_ ? notes_->UniqueID : Empty(); }
  const std::string& BanBy() const { return notes_ ? notes_->BanBy : Empty(); }
  const std::string& BanDate() const { return notes_ ? notes_->BanDate : Empty(); }
  const std::string& BanReason() const { return notes_ ? notes_->BanReason : Empty(); }
  void SetNotes(std::string uniqueId, std::string banBy, std::string banDate,
                std::string banReason);
  // The network file the record belongs to.
  const std::string& Path() const { return path_ ? *path_ : Empty(); }
  // `path` as KeepPath gave it.
  void SetPath(const std::string* path) { path_ = path; }
  // The one copy of `path` that records refer to; it lasts as long as the program (a server
  // sees few network files).
  static const std::string* KeepPath(const std::string& path);

  bool operator==(const VelmoraUser& other) const {
    return Name == other.Name && LastIP == other.LastIP && IsAdmin == other.IsAdmin &&
           IsBanned == other.IsBanned && UniqueID() == other.UniqueID() &&
           BanBy() == other.BanBy() && BanDate() == other.BanDate() &&
           BanReason() == other.BanReason() && Path() == other.Path();
  }

 private:
  struct Notes {
    std::string UniqueID;
    std::string BanBy;
    std::string BanDate;
    std::string BanReason;
  };
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }

  std::unique_ptr<const Notes> notes_;
  const std::string* path_ = nullptr;
};

}  // namespace velmora
