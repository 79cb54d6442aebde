#include "server/BanStore.h"

#include "base/Log.h"
#include "platform/adapters/Clock.h"
#include "platform/adapters/SqliteDatabase.h"

namespace velmora {

void BanStore::Prepare(platform::SqliteDatabase& db) {
  db.Execute("PRAGMA journal_mode=WAL");
  db.Execute(
      "CREATE TABLE IF NOT EXISTS bans (id INTEGER PRIMARY KEY, address TEXT, \"by\" TEXT, "
      "reason TEXT, bandate TEXT, banlength INTEGER, network TEXT)");
}

bool BanStore::IsBanned(const std::string& address, const std::string& network) {
  if (!db_) return false;
  try {
    auto query = db_->Prepare(
        "SELECT 1 FROM bans WHERE address = ? COLLATE NOCASE AND network = ? COLLATE NOCASE "
        "LIMIT 1");
    query.Bind(1, address).Bind(2, network);
    return query.Step();
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
    return true;
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage(
        "Error recording ban of " + modGlobal::LogSafe(targetName) + ": " + error.what(), false);
    return false;
  }
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
    return true;
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage("Error lifting ban " + std::to_string(id) + ": " + error.what(), false);
    return false;
  }
}

}  // namespace velmora
