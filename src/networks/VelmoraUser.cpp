#include "networks/VelmoraUser.h"

#include <mutex>
#include <set>

namespace velmora {

VelmoraUser::VelmoraUser(const VelmoraUser& other)
    : Name(other.Name), LastIP(other.LastIP), IsAdmin(other.IsAdmin), IsBanned(other.IsBanned),
      notes_(other.notes_ ? std::make_unique<const Notes>(*other.notes_) : nullptr),
      path_(other.path_) {}

VelmoraUser& VelmoraUser::operator=(const VelmoraUser& other) {
  if (this != &other) *this = VelmoraUser(other);
  return *this;
}

void VelmoraUser::SetNotes(std::string uniqueId, std::string banBy, std::string banDate,
                           std::string banReason) {
  if (uniqueId.empty() && banBy.empty() && banDate.empty() && banReason.empty()) {
    notes_.reset();
    return;
  }
  notes_ = std::make_unique<const Notes>(
      Notes{std::move(uniqueId), std::move(banBy), std::move(banDate), std::move(banReason)});
}

const std::string* VelmoraUser::KeepPath(const std::string& path) {
  // Network files are read on helper threads too.
  static std::mutex mutex;
  static std::set<std::string> kept;
  std::lock_guard lock(mutex);
  return &*kept.insert(path).first;
}

}  // namespace velmora
