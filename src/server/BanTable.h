#pragma once
// The table `bans` of the server database: the bans issued by administrators at run time.
// Without an open database the list is empty, nothing is banned or lifted, and an insert fails.
#include <cstdint>
#include <ctime>
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
  std::time_t bandate = 0;
};

class BanTable {
 public:
  explicit BanTable(platform::SqliteDatabase* db) : db_(db) {}

  // Creates the table when missing and switches the database to write-ahead logging.
  static void Prepare(platform::SqliteDatabase& db);

  // Each of these throws platform::DatabaseError when the database refuses.
  void Insert(const std::string& address, const std::string& by, const std::string& reason,
              std::time_t bandate, const std::string& network);
  // The rows of one network (network names compared without regard to case), oldest first.
  std::vector<BanRow> ListForNetwork(const std::string& network);
  // Deletes the row `id` when it belongs to `network`; false when no row went.
  bool DeleteForNetwork(int64_t id, const std::string& network);
  bool IsBanned(const std::string& address, const std::string& network);

 private:
  platform::SqliteDatabase* db_;
};

}  // namespace velmora
