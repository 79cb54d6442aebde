#include "OfflineCommands.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "AdminOptions.h"
#include "ServerText.h"
#include "base/TextCase.h"
#include "platform/adapters/Clock.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/SqliteDatabase.h"

namespace velmora::admin {

namespace {

using platform::DatabaseError;
using platform::SqliteDatabase;

// A table of bans is read whole to line up its columns: beyond this many rows only the newest
// are shown, and no text is shown longer than this many bytes.
constexpr int64_t kMaxBansShown = 10000;
constexpr size_t kMaxTextShown = 256;

// The columns the server reads from every row; `network` and `user` are shown when the table
// has them.
struct BanTable {
  bool hasNetwork = false;
  bool hasUser = false;
};

struct StoredBan {
  int64_t id = 0;
  std::string address, by, reason, bandate, network, user;
};

[[noreturn]] void Unusable(const AdminOptions& options, const std::string& why) {
  throw AdminFailure(ExitCode::kConnection,
                     "cannot use the database " + *options.database + ": " + why);
}

std::unique_ptr<SqliteDatabase> Open(const AdminOptions& options, SqliteDatabase::OpenMode mode) {
  const std::string& path = *options.database;
  // SQLite says "unable to open database file" for either; the mode alone keeps it from
  // creating a file, these checks only name the cause.
  if (!platform::FileExists(path))
    Unusable(options, "no such file (the server keeps velmora.db beside its binary)");
  if (platform::FolderExists(path)) Unusable(options, "it is a folder");
  try {
    auto db = std::make_unique<SqliteDatabase>(path, mode);
    // A running server holds its lock for one statement at a time: wait that out.
    db->WaitWhenBusy(std::chrono::seconds(options.timeoutSeconds));
    return db;
  } catch (const DatabaseError& error) {
    Unusable(options, error.what());
  }
}

BanTable ReadBanTable(SqliteDatabase& db, const AdminOptions& options) {
  std::vector<std::string> columns;
  try {
    auto query = db.Prepare("PRAGMA table_info(bans)");
    while (query.Step()) columns.push_back(query.ColumnText(1));
  } catch (const DatabaseError& error) {
    Unusable(options, error.what());
  }
  if (columns.empty()) Unusable(options, "no table bans in it: not a Velmora server database");
  auto has = [&](std::string_view name) {
    return std::any_of(columns.begin(), columns.end(),
                       [&](const std::string& column) { return EqualsIgnoreCase(column, name); });
  };
  for (const char* needed : {"id", "address", "by", "reason", "bandate"})
    if (!has(needed)) Unusable(options, std::string("its table bans has no column ") + needed);
  return {has("network"), has("user")};
}

std::string SelectColumns(const BanTable& table) {
  return std::string("SELECT id, address, \"by\", reason, bandate, ") +
         (table.hasNetwork ? "network" : "NULL") + ", " + (table.hasUser ? "\"user\"" : "NULL");
}

StoredBan ReadRow(const platform::SqliteStatement& query) {
  return {query.ColumnInt64(0), query.ColumnText(1), query.ColumnText(2), query.ColumnText(3),
          query.ColumnText(4),  query.ColumnText(5), query.ColumnText(6)};
}

// The rows to show, oldest first, and how many older ones were left out.
std::vector<StoredBan> ReadBans(SqliteDatabase& db, const BanTable& table, int64_t& leftOut) {
  auto count = db.Prepare("SELECT count(*) FROM bans");
  count.Step();
  leftOut = std::max<int64_t>(0, count.ColumnInt64(0) - kMaxBansShown);
  auto query = db.Prepare("SELECT * FROM (" + SelectColumns(table) +
                          " FROM bans ORDER BY id DESC LIMIT ?) ORDER BY id");
  query.Bind(1, kMaxBansShown);
  std::vector<StoredBan> bans;
  while (query.Step()) bans.push_back(ReadRow(query));
  return bans;
}

std::optional<StoredBan> ReadBan(SqliteDatabase& db, const BanTable& table, int64_t id) {
  auto query = db.Prepare(SelectColumns(table) + " FROM bans WHERE id = ?");
  query.Bind(1, id);
  if (!query.Step()) return std::nullopt;
  return ReadRow(query);
}

std::string Shown(const std::string& text) {
  if (text.size() <= kMaxTextShown) return Printable(text);
  return Printable(std::string_view(text).substr(0, kMaxTextShown)) + "…(" +
         std::to_string(text.size()) + " bytes)";
}

// As the server shows it in its ban list; a date another program wrote in a form of its own is
// shown as written rather than dropped, since here nobody else will show it.
std::string ShownDate(const std::string& stored) {
  auto when = platform::ReadStoredDate(stored);
  if (!when) return Shown(stored);
  return platform::ShortDate(*when) + " " + platform::ShortTime(*when);
}

ExitCode ListBans(const AdminOptions& options) {
  auto db = Open(options, SqliteDatabase::OpenMode::kReadOnly);
  std::vector<StoredBan> bans;
  BanTable table;
  int64_t leftOut = 0;
  try {
    table = ReadBanTable(*db, options);
    bans = ReadBans(*db, table, leftOut);
  } catch (const DatabaseError& error) {
    Unusable(options, error.what());
  }
  if (bans.empty()) {
    std::cout << "No bans in " << Printable(*options.database) << ".\n";
    return ExitCode::kOk;
  }
  std::vector<std::string> head = {"ID", "ADDRESS", "BY", "DATE"};
  if (table.hasNetwork) head.push_back("NETWORK");
  if (table.hasUser) head.push_back("USER");
  head.push_back("REASON");
  std::vector<std::vector<std::string>> rows = {head};
  for (auto& ban : bans) {
    std::vector<std::string> row = {std::to_string(ban.id), Shown(ban.address), Shown(ban.by),
                                    ShownDate(ban.bandate)};
    if (table.hasNetwork) row.push_back(Shown(ban.network));
    if (table.hasUser) row.push_back(Shown(ban.user));
    row.push_back(Shown(ban.reason));
    rows.push_back(std::move(row));
  }
  std::cout << FormatTable(rows);
  if (leftOut > 0)
    std::cout << "(" << leftOut << " older bans not shown; the newest " << kMaxBansShown
              << " are.)\n";
  return ExitCode::kOk;
}

ExitCode LiftBan(const AdminOptions& options) {
  // The argument was checked to be at most 18 digits: it fits.
  const std::string& text = options.arguments[0];
  int64_t id = 0;
  std::from_chars(text.data(), text.data() + text.size(), id);
  auto db = Open(options, SqliteDatabase::OpenMode::kExisting);
  std::optional<StoredBan> ban;
  try {
    ban = ReadBan(*db, ReadBanTable(*db, options), id);
  } catch (const DatabaseError& error) {
    Unusable(options, error.what());
  }
  auto missing = [&] {
    return AdminFailure(ExitCode::kNoTarget, "no ban with id " + std::to_string(id) + " in " +
                                                 *options.database + " (see the bans command)");
  };
  if (!ban) throw missing();
  try {
    auto remove = db->Prepare("DELETE FROM bans WHERE id = ?");
    remove.Bind(1, id);
    remove.Step();
    if (remove.Changes() == 0) throw missing();  // lifted by somebody else meanwhile
  } catch (const DatabaseError& error) {
    throw AdminFailure(ExitCode::kProtocol,
                       "could not lift ban " + std::to_string(id) + ": " + error.what());
  }
  std::cout << "Lifted ban " << id << " (address " << Shown(ban->address) << ", banned by "
            << Shown(ban->by) << (ban->network.empty() ? "" : " on network " + Shown(ban->network))
            << "); that address may log in again.\n";
  return ExitCode::kOk;
}

}  // namespace

bool RunsOffline(const std::string& command) { return command == "bans" || command == "unban"; }

ExitCode RunOffline(const AdminOptions& options) {
  // Dates as the server shows them, in the host's notation.
  platform::UseHostLocale();
  return options.command == "bans" ? ListBans(options) : LiftBan(options);
}

}  // namespace velmora::admin
