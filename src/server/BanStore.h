#pragma once
// The bans administrators issue at run time, kept in the table `bans` of the server database,
// and the one answer to whether a log-in is banned, by the network file or by the table.
// This is the one place that decides what a database failure means: each operation logs it once,
// in its own words, and answers as if nothing were stored, so that no caller needs a handler.
// Without a database the list is empty, nobody is banned and no ban can be recorded.
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {
namespace platform {
class SqliteDatabase;
}
class ServerNetworks;
class VelmoraUser;

struct BanRow {
  int64_t id = 0;
  std::string address;
  std::string by;
  std::string reason;
  // Nothing when the stored text is no date in a usual form (a row another program wrote).
  std::optional<std::time_t> bandate;
};

class BanStore {
 public:
  // `db` may be nothing: the server then runs without bans.
  explicit BanStore(platform::SqliteDatabase* db);
  ~BanStore();
  BanStore(BanStore&&) noexcept;
  BanStore& operator=(BanStore&&) noexcept;

  // Creates the table when missing and switches the database to write-ahead logging. Throws
  // platform::DatabaseError, for the opener to report.
  static void Prepare(platform::SqliteDatabase& db);

  // Whether a log-in from `address` into `network` is banned: by the network file, which bans
  // `record` (the file's user of that name at that address, if it has one), or by a row of the
  // table for that address on that network (names without regard to case). The table's bans
  // are kept in memory and read again only when the database's files show a change (a ban
  // stored or lifted here, or by another program), so that a log-in costs the loop a lookup and
  // a look at two files rather than a query. A database that cannot be read bans nobody, and
  // is tried again at the next log-in: serving beats refusing everyone.
  bool Refuses(const ServerNetworks& network, const VelmoraUser* record,
               const std::string& address);
  // Stores one ban; false when it could not be stored (logged as "Error recording ban of
  // <targetName>: ...").
  bool Record(const std::string& address, const std::string& by, const std::string& reason,
              std::time_t bandate, const std::string& network, const std::string& targetName);
  // The rows of one network, oldest first.
  std::vector<BanRow> List(const std::string& network);
  // Deletes the row `id` when it belongs to `network`; false when no row went.
  bool Lift(int64_t id, const std::string& network);
  // Goes up with every ban stored or lifted through this store, so that a reader of the lists
  // knows when to read them again.
  uint64_t Revision() const { return revision_; }

 private:
  class BannedAddresses;

  // The table's bans, read when they are not in memory or the database has changed since;
  // false when the table cannot be read.
  bool ReadTable();

  platform::SqliteDatabase* db_;
  uint64_t revision_ = 0;
  // Nothing until the table has been read, and after it was changed here.
  std::unique_ptr<BannedAddresses> banned_;
};

}  // namespace velmora
