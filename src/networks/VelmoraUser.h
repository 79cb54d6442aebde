#pragma once
#include <memory>
#include <string>

namespace velmora {

// One user known on one network, as its network file lists it or as registration adds it. A
// network may know many thousands: what the server only carries from the file (the UID and the
// ban notes) is kept out of line, and the file's location is shared by all users of a network.
class VelmoraUser {
 public:
  std::string Name;
  std::string LastIP;
  bool IsAdmin = false;
  bool IsBanned = false;

  const std::string& UniqueID() const { return notes_ ? notes_->UniqueID : Empty(); }
  const std::string& BanBy() const { return notes_ ? notes_->BanBy : Empty(); }
  const std::string& BanDate() const { return notes_ ? notes_->BanDate : Empty(); }
  const std::string& BanReason() const { return notes_ ? notes_->BanReason : Empty(); }
  void SetNotes(std::string uniqueId, std::string banBy, std::string banDate,
                std::string banReason) {
    if (uniqueId.empty() && banBy.empty() && banDate.empty() && banReason.empty()) {
      notes_.reset();
      return;
    }
    notes_ = std::make_shared<const Notes>(
        Notes{std::move(uniqueId), std::move(banBy), std::move(banDate), std::move(banReason)});
  }
  // The network file the record belongs to.
  const std::string& Path() const { return path_ ? *path_ : Empty(); }
  void SetPath(std::shared_ptr<const std::string> path) { path_ = std::move(path); }

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

  std::shared_ptr<const Notes> notes_;
  std::shared_ptr<const std::string> path_;
};

}  // namespace velmora
