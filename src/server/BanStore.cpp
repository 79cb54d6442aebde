#include "server/BanStore.h"

#include <string_view>
#include <utility>

#include <absl/container/flat_hash_set.h>

#include "base/Log.h"
#include "base/NameHash.h"
#include "networks/ServerNetworks.h"
#include "platform/adapters/Clock.h"
#include "platform/adapters/SqliteDatabase.h"

namespace velmora {

// The (network, address) pairs of the table's rows, as stored; compared without regard to case,
// as the table's own comparisons (COLLATE NOCASE) do.
class BanStore::BannedAddresses {
 public:
  // How the database's files stood when the table was read.
  platform::SqliteDatabase::FileMark mark{};

  void Add(std::string network, std::string address) {
    pairs_.emplace(std::move(network), std::move(address));
  }
  bool Contains(std::string_view network, std::string_view address) const {
    return pairs_.contains(Pair(network, address));
  }

 private:
  using Pair = std::pair<std::string_view, std::string_view>;
  struct Folded {
    using is_transparent = void;
    size_t operator()(Pair pair) const {
      return absl::HashOf(FoldedText{pair.first}, FoldedText{pair.second});
    }
    bool operator()(Pair a, Pair b) const {
      return EqualsIgnoreCase(a.first, b.first) && EqualsIgnoreCase(a.second, b.second);
    }
  };
  absl::flat_hash_set<std::pair<std::string, std::string>, Folded, Folded> pairs_;
};

BanStore::BanStore(platform::SqliteDatabase* db) : db_(db) {}
BanStore::~BanStore() = default;
BanStore::BanStore(BanStore&&) noexcept = default;
BanStore& BanStore::operator=(BanStore&&) noexcept = default;

void BanStore::Prepare(platform::SqliteDatabase& db) {
  db.Execute("PRAGMA journal_mode=WAL");
  db.Execute(
      "CREATE TABLE IF NOT EXISTS bans (id INTEGER PRIMARY KEY, address TEXT, \"by\" TEXT, "
      "reason TEXT, bandate TEXT, banlength INTEGER, network TEXT)");
}

bool BanStore::Refuses(const ServerNetworks& network, const VelmoraUser* record,
                       const std::string& address) {
  if (record != nullptr)
    for (auto& banned : network.Bans)
      if (banned.get() == record) return true;
  return ReadTable() && banned_->Contains(network.NetworkName, address);
}

bool BanStore::ReadTable() {
  if (!db_) return false;
  // Another program may have written the table, such as an administrator's unban made with the
  // database file itself: the files tell.
  auto mark = db_->Mark();  // before the read: a write during it shows at the next look
  if (banned_ && banned_->mark == mark) return true;
  banned_.reset();
  try {
    auto query = db_->Prepare(
        "SELECT network, address FROM bans WHERE network IS NOT NULL AND address IS NOT NULL");
    auto banned = std::make_unique<BannedAddresses>();
    banned->mark = mark;
    while (query.Step()) banned->Add(query.ColumnText(0), query.ColumnText(1));
    banned_ = std::move(banned);
    return true;
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage(std::string("Error reading bans: ") + error.what(), false);
    return false;
  }
}

bool BanStore::Record(const std::string& address, const std::string& by,
                      const std::string& reason, std::time_t bandate,
                      const std::string& network, const std::string& targetName) {
  try {
    // A ban that cannot be kept must not pass for one that was.
    if (!db_) throw platform::DatabaseError("no server database");
    auto insert = db_->Prepare(
        "INSERT INTO bans (address, \"by\", reason, bandate, banlength, network) "
        "VALUES (?, ?, ?, ?, 1, ?)");
    insert.Bind(1, address).Bind(2, by).Bind(3, reason).Bind(4, platform::ToIsoUtc(bandate));
    insert.Bind(5, network);
    insert.Step();
    ++revision_;
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage(
        "Error recording ban of " + modGlobal::LogSafe(targetName) + ": " + error.what(), false);
    return false;
  }
  // Read again now, on the administrator's request, rather than at the next log-in.
  banned_.reset();
  ReadTable();
  return true;
}

std::vector<BanRow> BanStore::List(const std::string& network) {
  std::vector<BanRow> rows;
  if (!db_) return rows;
  try {
    auto query = db_->Prepare(
        "SELECT id, address, \"by\", reason, bandate FROM bans "
        "WHERE network = ? COLLATE NOCASE ORDER BY id");
    query.Bind(1, network);
    while (query.Step()) {
      BanRow row;
      row.id = query.ColumnInt64(0);
      row.address = query.ColumnText(1);
      row.by = query.ColumnText(2);
      row.reason = query.ColumnText(3);
      row.bandate = platform::ReadStoredDate(query.ColumnText(4));
      rows.push_back(std::move(row));
    }
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage(std::string("Error reading bans: ") + error.what(), false);
    rows.clear();
  }
  return rows;
}

bool BanStore::Lift(int64_t id, const std::string& network) {
  if (!db_) return false;
  try {
    auto remove = db_->Prepare("DELETE FROM bans WHERE id = ? AND network = ? COLLATE NOCASE");
    remove.Bind(1, id).Bind(2, network);
    remove.Step();
    if (remove.Changes() == 0) return false;
    ++revision_;
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage("Error lifting ban " + std::to_string(id) + ": " + error.what(), false);
    return false;
  }
  // Read again now, on the administrator's request, rather than at the next log-in.
  banned_.reset();
  ReadTable();
  return true;
}

}  // namespace velmora
