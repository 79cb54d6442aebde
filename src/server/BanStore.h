#pragma once
// The bans administrators issue at run time, kept in the table `bans` of the server database.
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
  explicit BanStore(platform::SqliteDatabase* db) : db_(db) {}

  // Creates the table when missing and switches the database to write-ahead logging. Throws
  // platform::DatabaseError, for the opener to report.
  static void Prepare(platform::SqliteDatabase& db);

  // Whether `address` is banned on `network` (network names without regard to case). A database
  // that cannot answer bans nobody: serving beats refusing everyone.
  bool IsBanned(const std::string& address, const std::string& network);
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
  platform::SqliteDatabase* db_;
  uint64_t revision_ = 0;
};

}  // namespace velmora
