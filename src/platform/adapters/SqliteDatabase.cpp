#include "platform/adapters/SqliteDatabase.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace velmora::platform {

namespace {

// A locked database holds the one event thread up at most this long.
constexpr int kBusyTimeoutMs = 100;

bool IsLock(int code) { return (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED; }

[[noreturn]] void Throw(sqlite3* db, const std::string& what) {
  throw DatabaseError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"),
                      db != nullptr && IsLock(sqlite3_errcode(db)));
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, const std::string& sql) : db_(db) {
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK)
    Throw(db_, "cannot prepare statement");
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK)
    Throw(db_, "cannot bind parameter");
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, int64_t number) {
  if (sqlite3_bind_int64(statement_, index, number) != SQLITE_OK)
    Throw(db_, "cannot bind parameter");
  return *this;
}

bool SqliteStatement::Step() {
  int result = sqlite3_step(statement_);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  Throw(db_, "statement failed");
}

int64_t SqliteStatement::ColumnInt64(int column) const {
  return sqlite3_column_int64(statement_, column);
}

std::string SqliteStatement::ColumnText(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  int length = sqlite3_column_bytes(statement_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length))
              : std::string();
}

int64_t SqliteStatement::Changes() const { return sqlite3_changes64(db_); }

SqliteDatabase::SqliteDatabase(const std::string& path, OpenMode mode) {
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case OpenMode::kCreate: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
    case OpenMode::kExisting: flags |= SQLITE_OPEN_READWRITE; break;
    case OpenMode::kReadOnly: flags |= SQLITE_OPEN_READONLY; break;
  }
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw DatabaseError("cannot open " + path + ": " + message);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

SqliteDatabase::~SqliteDatabase() { sqlite3_close(db_); }

void SqliteDatabase::WaitWhenBusy(std::chrono::milliseconds limit) {
  sqlite3_busy_timeout(db_, static_cast<int>(limit.count()));
}

void SqliteDatabase::Execute(const std::string& sql) {
  char* error = nullptr;
  int result = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  if (result != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw DatabaseError(message, IsLock(result));
  }
}

SqliteStatement SqliteDatabase::Prepare(const std::string& sql) {
  return SqliteStatement(db_, sql);
}

SqliteDatabase::FileMark SqliteDatabase::Mark() const {
  FileMark mark{};
  sqlite3_filename file = sqlite3_db_filename(db_, "main");
  if (file == nullptr || *file == '\0') return mark;
  const char* paths[] = {file, sqlite3_filename_wal(file)};
  for (size_t i = 0; i < 2; ++i) {
    struct stat status {};
    if (paths[i] == nullptr || ::stat(paths[i], &status) != 0) continue;
    mark[3 * i] = static_cast<int64_t>(status.st_ino);
    mark[3 * i + 1] = static_cast<int64_t>(status.st_size);
    mark[3 * i + 2] = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                      status.st_mtim.tv_nsec;
  }
  return mark;
}

}  // namespace velmora::platform
