// The server database in trouble: locked by another program, locked at start-up, not a
// database at all, or beside a folder where its journal cannot be made. Relay and log-in go on,
// each failed request is logged, and no row that the database held is lost.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/adapters/SqliteDatabase.h"
#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

namespace fs = std::filesystem;

struct Row {
  std::string address;
  std::string reason;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.address << "|" << row.reason; }

class FaultDatabase : public ServerTest {
 protected:
  void SetUp() override {
    lobby = {.name = "Lobby",
             .password = "pw",
             .port = FreePort(),
             .users = {{.name = "Boss", .lastIp = "127.0.0.1", .isAdmin = "1"}}};
    server.WriteNetwork(lobby);
    server.WriteSettings(AllAddressesSettings());
  }

  void Start() { ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output(); }

  std::unique_ptr<WireClient> InLobby(std::string_view user, const std::string& address) {
    return Member(lobby.port, "Lobby", "pw", user, {.sourceAddress = address});
  }

  // The reasons of the ban list as `admin` sees it, oldest first.
  std::vector<std::string> BannedReasons(WireClient& admin) {
    admin.Send(13, "");
    auto reply = admin.Receive();
    std::vector<std::string> reasons;
    if (!reply || reply->command != 13) {
      ADD_FAILURE() << "ban list answered " << Describe(reply);
      return reasons;
    }
    // Entries "id|address|by|reason|when", each ended by 0x00.
    for (size_t start = 0, end; (end = reply->data.find('\0', start)) != std::string::npos;
         start = end + 1) {
      std::string entry = reply->data.substr(start, end - start);
      size_t from = 0;
      for (int bar = 0; bar < 3; ++bar) from = entry.find('|', from) + 1;
      reasons.push_back(entry.substr(from, entry.find('|', from) - from));
    }
    return reasons;
  }

  // The rows of the ban table as the file holds them, read past the server.
  std::vector<Row> StoredRows() {
    std::vector<Row> rows;
    platform::SqliteDatabase db(server.DatabasePath());
    auto query = db.Prepare("SELECT address, reason FROM bans ORDER BY id");
    while (query.Step()) rows.push_back({query.ColumnText(0), query.ColumnText(1)});
    return rows;
  }

  // A ban of `user` that reaches its connection and removes it.
  void Ban(WireClient& admin, WireClient& target, const std::string& user,
           const std::string& reason) {
    admin.Send(11, user + "|" + reason);
    EXPECT_EQ(target.Receive(), (Message{997, reason})) << user;
    EXPECT_EQ(admin.Receive(), (Message{6, user})) << user;
    EXPECT_TRUE(Logged(user + " on network Lobby Banned: " + reason));
  }

  // A ban the database cannot store: only its failure is logged, and the target hears nothing.
  void FailedBan(WireClient& admin, WireClient& target, const std::string& user,
                 const std::string& reason) {
    admin.Send(11, user + "|" + reason);
    EXPECT_EQ(CountLogStarting("Error recording ban of " + user + ": "), 1u) << DescribeLog();
    EXPECT_TRUE(target.ExpectNothing()) << user;
    EXPECT_EQ(server.CountLog(user + " on network Lobby Banned: " + reason), 0u);
  }

  // Log messages of this run that begin with `prefix`, once there are `awaited` of them or
  // the wait has run out.
  size_t CountLogStarting(const std::string& prefix, size_t awaited = 1) const {
    auto deadline = std::chrono::steady_clock::now() + 3s;
    while (true) {
      size_t count = 0;
      for (const auto& line : server.LogMessages()) count += line.rfind(prefix, 0) == 0;
      if (count >= awaited || std::chrono::steady_clock::now() >= deadline) return count;
      std::this_thread::sleep_for(5ms);
    }
  }

  // Logs in from `address` and reports whether the user name was answered "OK".
  bool LogInAccepted(std::string_view user, const std::string& address) {
    WireClient client(lobby.port, {.sourceAddress = address});
    EXPECT_TRUE(client.ExpectPrompt());
    EXPECT_TRUE(client.Step(1, "Lobby", 2, "OK"));
    EXPECT_TRUE(client.Step(2, Md5("pw"), 3, "OK"));
    client.Send(3, user);
    return client.Receive() == Message{4, "OK"};
  }

  // Everyone logged in hears a position report of `sender`.
  void ExpectRelay(WireClient& sender, const std::string& name,
                   std::vector<WireClient*> others) {
    sender.Send(4, "7,8,1,9,0,0");
    for (auto* other : others) EXPECT_EQ(other->Receive(), (Message{5, name + "|7,8,1,9,0,0"}));
  }

  NetworkEntry lobby;
};

TEST_F(FaultDatabase, ALockHeldByAnotherProgramFailsOnlyTheRequestsMadeMeanwhile) {
  Start();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  auto cy = InLobby("Cy", "127.0.0.3");
  auto dan = InLobby("Dan", "127.0.0.4");
  Ban(*boss, *bob, "Bob", "before");
  for (auto* other : {cy.get(), dan.get()}) EXPECT_EQ(other->Receive(), (Message{6, "Bob"}));

  {
    platform::SqliteDatabase locker(server.DatabasePath());
    locker.Execute("BEGIN EXCLUSIVE");
    FailedBan(*boss, *cy, "Cy", "during");
    boss->Send(14, "1");
    ExpectRelay(*dan, "Dan", {boss.get(), cy.get()});
    EXPECT_EQ(CountLogStarting("Error lifting ban 1: "), 1u) << DescribeLog();
    // Readers are not held up by a writer's lock.
    EXPECT_EQ(BannedReasons(*boss), std::vector<std::string>{"before"});
    locker.Execute("ROLLBACK");
  }

  Ban(*boss, *dan, "Dan", "after");
  EXPECT_EQ(BannedReasons(*boss), (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(CountLogStarting("Error recording ban of Dan", 0), 0u) << DescribeLog();
  ASSERT_EQ(server.Stop(), 0) << server.Output();
  EXPECT_EQ(StoredRows(), (std::vector<Row>{{"127.0.0.2", "before"}, {"127.0.0.4", "after"}}));
}

// A program that holds the database in exclusive mode keeps out readers too. Meeting such a
// lock at start-up must not cost the whole run its bans once the lock is gone.
TEST_F(FaultDatabase, AnExclusiveLockAtStartUpLastsOnlyAsLongAsTheLock) {
  Start();
  {
    auto boss = InLobby("Boss", "127.0.0.1");
    auto bob = InLobby("Bob", "127.0.0.2");
    Ban(*boss, *bob, "Bob", "before");
  }
  ASSERT_TRUE(server.WaitForLog("Client Disconnect: (1) Bob"));
  ASSERT_EQ(server.Stop(), 0) << server.Output();

  auto locker = std::make_unique<platform::SqliteDatabase>(server.DatabasePath());
  locker->Execute("PRAGMA locking_mode=EXCLUSIVE");
  locker->Execute("BEGIN EXCLUSIVE");
  locker->Execute("SELECT count(*) FROM bans");
  Start();
  EXPECT_EQ(CountLogStarting("Error opening server database: "), 1u) << DescribeLog();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto cy = InLobby("Cy", "127.0.0.3");
  ExpectRelay(*cy, "Cy", {boss.get()});
  // While the lock stands the ban list cannot be read, and says so.
  EXPECT_TRUE(BannedReasons(*boss).empty());
  EXPECT_GE(CountLogStarting("Error reading bans: "), 1u) << DescribeLog();

  locker->Execute("COMMIT");
  locker.reset();
  EXPECT_FALSE(LogInAccepted("Bob", "127.0.0.2")) << "the ban of the earlier run is enforced";
  Ban(*boss, *cy, "Cy", "after");
  EXPECT_EQ(BannedReasons(*boss), (std::vector<std::string>{"before", "after"}));
  ASSERT_EQ(server.Stop(), 0) << server.Output();
  EXPECT_EQ(StoredRows(), (std::vector<Row>{{"127.0.0.2", "before"}, {"127.0.0.3", "after"}}));
}

TEST_F(FaultDatabase, AFileThatIsNotADatabaseIsLeftAsItIsAndBansAreLoggedAsFailed) {
  const std::string garbage = "these are an operator's notes, not a database\n";
  { std::ofstream(server.DatabasePath(), std::ios::binary) << garbage; }
  Start();
  EXPECT_EQ(CountLogStarting("Error opening server database: "), 1u) << DescribeLog();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  ExpectRelay(*bob, "Bob", {boss.get()});
  FailedBan(*boss, *bob, "Bob", "cheating");
  EXPECT_TRUE(Logged("Error recording ban of Bob: no server database"));
  ASSERT_EQ(server.Stop(), 0) << server.Output();
  EXPECT_EQ(ReadFile(server.DatabasePath()), garbage);
}

// The journal beside the database cannot be made (its name is taken by a folder): the server
// runs without bans, and the rows are all there again once the folder has gone.
TEST_F(FaultDatabase, ADatabaseWhoseJournalCannotBeMadeKeepsItsRows) {
  Start();
  {
    auto boss = InLobby("Boss", "127.0.0.1");
    auto bob = InLobby("Bob", "127.0.0.2");
    Ban(*boss, *bob, "Bob", "before");
  }
  ASSERT_TRUE(server.WaitForLog("Client Disconnect: (1) Bob"));
  ASSERT_EQ(server.Stop(), 0) << server.Output();
  std::string journal = server.DatabasePath() + "-wal";
  ASSERT_FALSE(fs::exists(journal));
  fs::create_directory(journal);

  Start();
  EXPECT_EQ(CountLogStarting("Error opening server database: "), 1u) << DescribeLog();
  {
    auto boss = InLobby("Boss", "127.0.0.1");
    auto cy = InLobby("Cy", "127.0.0.3");
    ExpectRelay(*cy, "Cy", {boss.get()});
    FailedBan(*boss, *cy, "Cy", "during");
  }
  ASSERT_TRUE(server.WaitForLog("Client Disconnect: (102) Cy"));
  ASSERT_EQ(server.Stop(), 0) << server.Output();

  fs::remove(journal);
  EXPECT_EQ(StoredRows(), (std::vector<Row>{{"127.0.0.2", "before"}}));
  Start();
  EXPECT_EQ(CountLogStarting("Error opening server database: ", 0), 0u) << DescribeLog();
  EXPECT_FALSE(LogInAccepted("Bob", "127.0.0.2"));
}

}  // namespace
}  // namespace velmora::e2e
