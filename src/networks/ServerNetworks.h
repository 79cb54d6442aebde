#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_set.h>

#include "base/NameHash.h"
#include "networks/VelmoraUser.h"

namespace velmora {

struct RecordOutcome;

// One network: its definition from the network file, its users and its current seat count.
// Records live as long as the program; connections refer to them without owning them.
class ServerNetworks {
 public:
  // Records that `username` logged in from `address` in the network file, on the calling
  // thread; the log-ins of a running server go through Registrar instead.
  void AddUserToNetwork(const std::string& username, const std::string& address);
  // Acts on what recording a log-in in the file came to: a record for a user the file did not
  // know, and the log lines for a failure and for an administrator's address kept.
  void TakeOutcome(const std::string& username, const std::string& address,
                   const RecordOutcome& outcome);

  ServerNetworks();
  ServerNetworks(std::string name, std::string password, int64_t maxusers, bool enabled);
  // The index of users refers to this record's list: the record stays where it was made.
  ServerNetworks(const ServerNetworks&) = delete;
  ServerNetworks& operator=(const ServerNetworks&) = delete;

  // Counts one more connection in CurrentUsers when the network is enabled and not full; false,
  // and nothing counted, otherwise. Seat (networks/Seat.h) is the way to hold one.
  bool TakeSeat();
  void ReturnSeat() { --CurrentUsers; }

  // The first record of Users whose Name and LastIP equal these (any letter case), or nothing.
  std::shared_ptr<VelmoraUser> FindUser(std::string_view name, std::string_view address) const;

  // The users of the network: those of its file, in file order, then those log-ins added. A
  // record's Name and LastIP change only with the list (SetUsers), so that the index of names
  // kept beside it stays right.
  const std::vector<std::shared_ptr<VelmoraUser>>& Users() const { return users_; }
  void AddUser(std::shared_ptr<VelmoraUser> user);
  void SetUsers(std::vector<std::shared_ptr<VelmoraUser>> users);

  std::string NetworkName;
  std::string Password;
  int64_t MaxUsers = 0;
  int64_t CurrentUsers = 0;
  bool Enabled = false;
  int64_t Port = 0;
  std::string Path;  // empty: no file
  // Its file went away or no longer reads: a reload keeps the record for the members still on
  // it, but a selection no longer finds it.
  bool Retired = false;
  // Admins and Bans hold the very records that Users holds; membership is by identity.
  std::vector<std::shared_ptr<VelmoraUser>> Admins;
  std::vector<std::shared_ptr<VelmoraUser>> Bans;

 private:
  // A name and address, as a record holds them or as a log-in gives them.
  using NameAndAddress = std::pair<std::string_view, std::string_view>;
  // Positions in users_ by name and address without letter case, the first of equal ones: a
  // log-in into a network of many thousand users must not walk them all on the loop's thread.
  // Names are the clients' choice, so the hash is seeded (NameHash.h).
  struct UserKey {
    using is_transparent = void;
    const std::vector<std::shared_ptr<VelmoraUser>>* users;
    NameAndAddress Of(uint32_t position) const {
      const VelmoraUser& user = *(*users)[position];
      return {user.Name, user.LastIP};
    }
    size_t operator()(NameAndAddress key) const {
      return absl::HashOf(FoldedText{key.first}, FoldedText{key.second});
    }
    size_t operator()(uint32_t position) const { return (*this)(Of(position)); }
    bool operator()(NameAndAddress a, NameAndAddress b) const {
      return EqualsIgnoreCase(a.first, b.first) && EqualsIgnoreCase(a.second, b.second);
    }
    bool operator()(uint32_t a, uint32_t b) const { return (*this)(Of(a), Of(b)); }
    bool operator()(uint32_t a, NameAndAddress b) const { return (*this)(Of(a), b); }
    bool operator()(NameAndAddress a, uint32_t b) const { return (*this)(a, Of(b)); }
  };

  std::vector<std::shared_ptr<VelmoraUser>> users_;
  absl::flat_hash_set<uint32_t, UserKey, UserKey> usersByName_;
};

}  // namespace velmora
