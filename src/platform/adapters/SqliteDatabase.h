#pragma once
// A small RAII layer over the SQLite C API: a connection and its prepared statements. Every
// failure is thrown as DatabaseError; client text only ever enters a statement as a bound
// parameter.
#include <array>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora::platform {

class DatabaseError : public std::runtime_error {
 public:
  explicit DatabaseError(const std::string& what, bool locked = false)
      : std::runtime_error(what), locked_(locked) {}
  // Another connection held a lock on the database: the same request may work later.
  bool Locked() const { return locked_; }

 private:
  bool locked_;
};

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const std::string& sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Parameters are numbered from 1.
  SqliteStatement& Bind(int index, std::string_view text);
  SqliteStatement& Bind(int index, int64_t number);
  // Advances to the next row; false when there is none (or the statement has run).
  bool Step();
  int64_t ColumnInt64(int column) const;
  std::string ColumnText(int column) const;
  // Rows changed by the statement that has just run.
  int64_t Changes() const;

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

class SqliteDatabase {
 public:
  enum class OpenMode {
    kCreate,    // read and write, creating the file when missing (the server's own)
    kExisting,  // read and write, but only a file that is there: a mistyped path stays an error
    kReadOnly,  // read only, and only a file that is there
  };

  // Opens the database file. A lock held by another connection is waited for a moment
  // (see WaitWhenBusy) before a statement fails with DatabaseError::Locked().
  explicit SqliteDatabase(const std::string& path, OpenMode mode = OpenMode::kCreate);
  ~SqliteDatabase();
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  // How long a statement waits for another connection's lock before it fails.
  void WaitWhenBusy(std::chrono::milliseconds limit);

  void Execute(const std::string& sql);
  SqliteStatement Prepare(const std::string& sql);

  // How the database's files stand now (the file and its write-ahead log): it differs after a
  // transaction committed since, by this connection or by another program. A look at the files
  // rather than a query, so it never waits for a lock. Always the same for a database in memory.
  using FileMark = std::array<int64_t, 6>;
  FileMark Mark() const;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace velmora::platform
