// The administrators' commands over the wire: kick, ban, the ban list and lifting bans, with the
// bans kept in velmora.db beside the binary and enforced at log-in. (Announcements and whom a
// kick or ban reaches are tested in-process, tests/server/AnnouncementTest.cpp and
// AdminCommandTest.cpp.)
// Users connect from loopback addresses of their own, since a ban is held against an address.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <set>

#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

using namespace std::string_literals;

struct BanEntry {
  std::string id, address, by, reason, when;
  bool operator==(const BanEntry&) const = default;
};

void PrintTo(const BanEntry& entry, std::ostream* out) {
  *out << entry.id << "|" << entry.address << "|" << entry.by << "|" << entry.reason << "|"
       << entry.when;
}

// The entries of a ban list: "id|address|by|reason|date time", each ended by one 0x00 byte.
::testing::AssertionResult ParseBanList(const std::string& payload,
                                        std::vector<BanEntry>& entries) {
  entries.clear();
  if (!payload.empty() && payload.back() != '\0')
    return ::testing::AssertionFailure()
           << "the last entry lacks its 0x00: " << Describe(Message{13, payload});
  size_t start = 0;
  while (start < payload.size()) {
    size_t end = payload.find('\0', start);
    std::string entry = payload.substr(start, end - start);
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t bar; (bar = entry.find('|', from)) != std::string::npos; from = bar + 1)
      fields.push_back(entry.substr(from, bar - from));
    fields.push_back(entry.substr(from));
    if (fields.size() != 5)
      return ::testing::AssertionFailure() << "entry of " << fields.size() << " fields: " << entry;
    entries.push_back({fields[0], fields[1], fields[2], fields[3], fields[4]});
    start = end + 1;
  }
  return ::testing::AssertionSuccess();
}

// Digits replaced by 9: the ban list shows its dates in the notation of the log's stamps.
std::string Shape(std::string text) {
  for (char& c : text)
    if (c >= '0' && c <= '9') c = '9';
  return text;
}

using Rows = std::vector<std::vector<std::string>>;

// The rows of `sql` on the database at `path`, every column as text; what the server stored,
// seen from outside it.
Rows Query(const std::string& path, const std::string& sql) {
  Rows rows;
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return rows;
  }
  char* error = nullptr;
  auto collect = [](void* out, int count, char** values, char**) {
    auto& result = *static_cast<Rows*>(out);
    result.emplace_back();
    for (int i = 0; i < count; ++i) result.back().push_back(values[i] ? values[i] : "NULL");
    return 0;
  };
  if (sqlite3_exec(db, sql.c_str(), collect, &rows, &error) != SQLITE_OK)
    ADD_FAILURE() << sql << ": " << (error ? error : "?");
  sqlite3_free(error);
  sqlite3_close(db);
  return rows;
}

class Admin : public ServerTest {
 protected:
  void SetUp() override {
    lobby = {.name = "Lobby",
             .password = "secret",
             .port = FreePort(),
             .users = {{.name = "Boss", .lastIp = "127.0.0.1", .isAdmin = "1"},
                       {.name = "Mallory", .lastIp = "127.0.0.9", .isBanned = "1"}}};
    arena = {.name = "Arena",
             .password = "other",
             .port = FreePort(),
             .users = {{.name = "Ref", .lastIp = "127.0.0.1", .isAdmin = "1"}}};
  }

  void Start() { StartServer({lobby, arena}); }

  std::unique_ptr<WireClient> InLobby(std::string_view user, std::string address) {
    return Member(lobby.port, "Lobby", "secret", user, {.sourceAddress = address});
  }
  std::unique_ptr<WireClient> InArena(std::string_view user, std::string address) {
    return Member(lobby.port, "Arena", "other", user, {.sourceAddress = address});
  }

  // The ban list as `admin` sees it; the departures of banned members may come before it.
  std::vector<BanEntry> BanList(WireClient& admin) {
    admin.Send(13, "");
    auto reply = admin.Receive();
    while (reply && reply->command == 6) reply = admin.Receive();
    std::vector<BanEntry> entries;
    if (!reply || reply->command != 13) {
      ADD_FAILURE() << "ban list answered " << Describe(reply);
      return entries;
    }
    EXPECT_TRUE(ParseBanList(reply->data, entries));
    return entries;
  }

  // The stamp "[date time]" of the first log line holding `message`, without the brackets.
  std::string StampOf(const std::string& message) {
    for (const auto& line : server.LogLines())
      if (line.size() > message.size() &&
          line.compare(line.size() - message.size(), message.size(), message) == 0)
        return line.substr(1, line.find("] ") - 1);
    return "";
  }

  // Connects from `address` and tries the log-in; returns the answer to the user name.
  std::optional<Message> TryLogIn(std::string_view network, std::string_view password,
                                  std::string_view user, std::string address) {
    WireClient client(lobby.port, {.sourceAddress = address});
    EXPECT_TRUE(client.ExpectPrompt());
    EXPECT_TRUE(client.Step(1, network, 2, "OK"));
    EXPECT_TRUE(client.Step(2, Md5(password), 3, "OK"));
    client.Send(3, user);
    return client.Receive();
  }

  NetworkEntry lobby;
  NetworkEntry arena;
};

const Message kLoginOk{4, "OK"};
const Message kLoginFail{4, "FAIL"};

// The kick over real sockets; whom a kick reaches is tested in-process
// (tests/server/AdminCommandTest.cpp).
TEST_F(Admin, AKickEndsTheConnectionAndItsTextInTheLogIsEscaped) {
  Start();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  boss->Send(10, "Bob\n|spam\r\nforged");
  EXPECT_TRUE(Logged("Bob\\n on network Lobby Kicked: spam\\r\\nforged"));
  boss->Send(10, "bob|spam");
  EXPECT_EQ(bob->Receive(), (Message{996, "spam"}));
  EXPECT_TRUE(bob->WaitForClose());
  EXPECT_EQ(boss->Receive(), (Message{6, "Bob"}));
  ASSERT_TRUE(Logged("Client Disconnect: (103) Bob"));
}

TEST_F(Admin, ABanNotifiesLogsRecordsAndEndsTheConnection) {
  Start();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  EXPECT_TRUE(BanList(*boss).empty());

  boss->Send(11, "BOB|cheating");
  EXPECT_EQ(bob->Receive(), (Message{997, "cheating"}));
  ASSERT_TRUE(Logged("Bob on network Lobby Banned: cheating"));
  auto entries = BanList(*boss);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].id, "1");
  EXPECT_EQ(entries[0].address, "127.0.0.2");
  EXPECT_EQ(entries[0].by, "Boss");
  EXPECT_EQ(entries[0].reason, "cheating");
  EXPECT_EQ(Shape(entries[0].when), Shape(StampOf("Bob on network Lobby Banned: cheating")));

  EXPECT_TRUE(bob->WaitForClose());
  ASSERT_TRUE(Logged("Client Disconnect: (1) Bob"));
  EXPECT_TRUE(boss->ExpectNothing(50ms));
}

TEST_F(Admin, TheBanListShowsEachRowOfTheOwnNetworkEndedByAZeroByte) {
  Start();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  auto cy = InLobby("Cy", "127.0.0.3");
  auto dan = InArena("Dan", "127.0.0.4");
  auto ref = InArena("Ref", "127.0.0.1");

  boss->Send(13, "");
  EXPECT_EQ(boss->Receive(), (Message{13, ""}));
  boss->Send(11, "Bob|one");
  ASSERT_EQ(bob->Receive(), (Message{997, "one"}));
  ASSERT_EQ(boss->Receive(), (Message{6, "Bob"}));
  ASSERT_EQ(cy->Receive(), (Message{6, "Bob"}));
  ref->Send(11, "Dan|elsewhere");
  ASSERT_EQ(dan->Receive(), (Message{997, "elsewhere"}));
  boss->Send(11, "Cy|two");
  ASSERT_EQ(cy->Receive(), (Message{997, "two"}));
  ASSERT_EQ(boss->Receive(), (Message{6, "Cy"}));

  boss->Send(13, "");
  auto reply = boss->Receive();
  ASSERT_TRUE(reply.has_value());
  std::regex layout(R"(1\|127\.0\.0\.2\|Boss\|one\|[^|\x00]+ [^|\x00]+)");
  size_t first = reply->data.find('\0');
  ASSERT_NE(first, std::string::npos) << Describe(reply);
  EXPECT_TRUE(std::regex_match(reply->data.substr(0, first), layout)) << Describe(reply);

  std::vector<BanEntry> entries;
  ASSERT_TRUE(ParseBanList(reply->data, entries));
  ASSERT_EQ(entries.size(), 2u) << Describe(reply);
  EXPECT_EQ(entries[0], (BanEntry{"1", "127.0.0.2", "Boss", "one", entries[0].when}));
  EXPECT_EQ(entries[1], (BanEntry{"3", "127.0.0.3", "Boss", "two", entries[1].when}));

  // Another network's administrator sees that network's rows only.
  auto arenaEntries = BanList(*ref);
  ASSERT_EQ(arenaEntries.size(), 1u);
  EXPECT_EQ(arenaEntries[0],
            (BanEntry{"2", "127.0.0.4", "Ref", "elsewhere", arenaEntries[0].when}));
}

TEST_F(Admin, ALiftBanDeletesOnlyANumberedRowOfTheOwnNetwork) {
  Start();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  auto cy = InLobby("Cy", "127.0.0.3");
  auto eve = InLobby("Eve", "127.0.0.5");
  auto dan = InArena("Dan", "127.0.0.4");
  auto ref = InArena("Ref", "127.0.0.1");
  // One at a time: the rows' ids follow the order in which the server handles the bans.
  // Each banned member leaves: the others hear it before their own ban.
  boss->Send(11, "Bob|r1");
  ASSERT_EQ(bob->Receive(), (Message{997, "r1"}));
  boss->Send(11, "Cy|r2");
  ASSERT_EQ(cy->Receive(), (Message{6, "Bob"}));
  ASSERT_EQ(cy->Receive(), (Message{997, "r2"}));
  boss->Send(11, "Eve|r3");
  ASSERT_EQ(eve->Receive(), (Message{6, "Bob"}));
  ASSERT_EQ(eve->Receive(), (Message{6, "Cy"}));
  ASSERT_EQ(eve->Receive(), (Message{997, "r3"}));
  ref->Send(11, "Dan|r4");
  ASSERT_EQ(dan->Receive(), (Message{997, "r4"}));
  ASSERT_EQ(BanList(*boss).size(), 3u);

  boss->Send(14, "x3");
  EXPECT_EQ(BanList(*boss).size(), 3u);
  boss->Send(14, "4");  // Arena's row
  EXPECT_EQ(BanList(*ref).size(), 1u);
  boss->Send(14, "3");
  auto entries = BanList(*boss);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].id, "1");
  EXPECT_EQ(entries[1].id, "2");
  boss->Send(14, "99");
  EXPECT_EQ(BanList(*boss).size(), 2u);
  // Lifting is silent.
  EXPECT_TRUE(boss->ExpectNothing(50ms));

  // The address whose ban was lifted may log in again.
  ASSERT_TRUE(Logged("Client Disconnect: (1) Eve"));
  ASSERT_TRUE(Logged("Client Disconnect: (1) Cy"));
  EXPECT_EQ(TryLogIn("Lobby", "secret", "Eve", "127.0.0.5"), kLoginOk);
  EXPECT_EQ(TryLogIn("Lobby", "secret", "Cy", "127.0.0.3"), kLoginFail);
}

TEST_F(Admin, AReasonCarryingQuotesAndSqlIsStoredVerbatim) {
  Start();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  auto cy = InLobby("Cy", "127.0.0.3");
  const std::string reason = "it's \"bad\"'); DROP TABLE bans; --\nnext";
  boss->Send(11, "Bob|" + reason);
  EXPECT_EQ(bob->Receive(), (Message{997, reason}));
  ASSERT_TRUE(Logged("Bob on network Lobby Banned: it's \"bad\"'); DROP TABLE bans; --\\nnext"));
  boss->Send(11, "Cy|x' OR '1'='1");
  EXPECT_EQ(cy->Receive(), (Message{6, "Bob"}));
  EXPECT_EQ(cy->Receive(), (Message{997, "x' OR '1'='1"}));
  auto entries = BanList(*boss);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].reason, reason);
  EXPECT_EQ(entries[1].reason, "x' OR '1'='1");
  boss->Send(14, "1 OR 1=1");
  EXPECT_EQ(BanList(*boss).size(), 1u);
}

TEST_F(Admin, BansSurviveARestart) {
  Start();
  std::vector<BanEntry> before;
  {
    auto boss = InLobby("Boss", "127.0.0.1");
    auto bob = InLobby("Bob", "127.0.0.2");
    boss->Send(11, "Bob|cheating");
    ASSERT_EQ(bob->Receive(), (Message{997, "cheating"}));
    before = BanList(*boss);
    ASSERT_EQ(before.size(), 1u);
  }
  ASSERT_TRUE(server.WaitForLog("Client Disconnect: (1) Bob"));
  ASSERT_EQ(server.Stop(), 0) << server.Output();
  EXPECT_TRUE(std::filesystem::is_regular_file(server.DatabasePath()));

  ASSERT_TRUE(server.Start()) << DescribeLog();
  auto boss = InLobby("Boss", "127.0.0.1");
  EXPECT_EQ(BanList(*boss), before);
  EXPECT_EQ(TryLogIn("Lobby", "secret", "Bob", "127.0.0.2"), kLoginFail);
}

TEST_F(Admin, AnAdministratorRecordFromAnotherAddressGrantsNothing) {
  Start();
  auto impostor = InLobby("Boss", "127.0.0.5");
  // The record keeps its address, so the impostor holds nothing after a restart either.
  EXPECT_TRUE(Logged("127.0.0.5: Admin Address Kept (Boss stays at 127.0.0.1)"));
  EXPECT_NE(NetworkFile(lobby).find("LastIP=\"127.0.0.1\""), std::string::npos);
  EXPECT_EQ(NetworkFile(lobby).find("127.0.0.5"), std::string::npos);
  auto bob = InLobby("Bob", "127.0.0.2");
  for (int32_t code : {10, 11, 12, 13, 14}) impostor->Send(code, "Bob|x");
  EXPECT_TRUE(impostor->ExpectNothing());
  EXPECT_TRUE(bob->ExpectNothing(50ms));
  for (const auto& line : server.MessagesSinceListening()) {
    EXPECT_EQ(line.find("Kicked"), std::string::npos) << line;
    EXPECT_EQ(line.find("Banned"), std::string::npos) << line;
  }
}

TEST_F(Admin, ABanIsARowOfTheBansTableBesideTheBinary) {
  Start();
  EXPECT_TRUE(std::filesystem::is_regular_file(server.DatabasePath()));
  auto boss = InLobby("boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  boss->Send(11, "Bob|cheating");
  ASSERT_EQ(bob->Receive(), (Message{997, "cheating"}));
  std::time_t banned = std::time(nullptr);
  bob.reset();
  boss.reset();
  ASSERT_TRUE(Logged("Client Disconnect: (102) boss"));
  ASSERT_EQ(server.Stop(), 0) << server.Output();

  EXPECT_EQ(Query(server.DatabasePath(), "PRAGMA journal_mode"), (Rows{{"wal"}}));
  auto rows = Query(server.DatabasePath(),
                    "SELECT id, address, \"by\", reason, banlength, network, bandate FROM bans");
  ASSERT_EQ(rows.size(), 1u);
  auto row = rows[0];
  std::string bandate = row.back();
  row.pop_back();
  EXPECT_EQ(row, (std::vector<std::string>{"1", "127.0.0.2", "boss", "cheating", "1", "Lobby"}));
  // ISO 8601 in UTC, so that it reads back as the same moment wherever the server runs.
  std::tm utc{};
  char zone = 0;
  ASSERT_EQ(std::sscanf(bandate.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &utc.tm_year, &utc.tm_mon,
                        &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &zone),
            7)
      << bandate;
  EXPECT_EQ(zone, 'Z') << bandate;
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  EXPECT_LE(std::abs(std::difftime(timegm(&utc), banned)), 60.0) << bandate;
}

TEST_F(Admin, StoredRowsAreListedInTheHostsLocalShortNotationAndEnforced) {
  // Rows as an operator's tool, or an earlier version of the server, may have left them.
  Query(server.DatabasePath(),
        "CREATE TABLE bans (id INTEGER PRIMARY KEY, address TEXT, \"by\" TEXT, reason TEXT, "
        "bandate TEXT, banlength INTEGER, network TEXT);"
        "INSERT INTO bans VALUES (7, '127.0.0.8', 'Op', 'old', '2024-03-05T14:07:09Z', 1, "
        "'LOBBY');"
        // SQLite's own form, a Unix time, and text that is no date at all.
        "INSERT INTO bans VALUES (9, '127.0.0.9', 'Op', 'sql', '2024-03-05 14:07:09', 1, 'Lobby');"
        "INSERT INTO bans VALUES (10, '127.0.0.9', 'Op', 'unix', 1709647629, 1, 'Lobby');"
        "INSERT INTO bans VALUES (11, '127.0.0.9', 'Op', 'junk', 'someday', 1, 'Lobby');"
        "INSERT INTO bans VALUES (8, '127.0.0.1', 'Op', 'arena only', '2024-03-05T14:07:09Z', "
        "1, 'Arena');");
  // The C locale's short notations, five and a half hours east of UTC.
  server.SetEnvironment("LC_ALL", "C");
  server.SetEnvironment("TZ", "XST-5:30");
  Start();
  auto boss = InLobby("Boss", "127.0.0.1");
  boss->Send(13, "");
  EXPECT_EQ(boss->Receive(), (Message{13, "7|127.0.0.8|Op|old|03/05/24 19:37:09\0"
                                          "9|127.0.0.9|Op|sql|03/05/24 19:37:09\0"
                                          "10|127.0.0.9|Op|unix|03/05/24 19:37:09\0"
                                          "11|127.0.0.9|Op|junk|\0"s}));
  EXPECT_EQ(TryLogIn("lobby", "secret", "Zed", "127.0.0.8"), kLoginFail);
  ASSERT_TRUE(Logged("127.0.0.8: Banned (Zed)"));
  for (const char* id : {"7", "9", "10", "11"}) boss->Send(14, id);
  boss->Send(13, "");
  EXPECT_EQ(boss->Receive(), (Message{13, ""}));
  EXPECT_EQ(TryLogIn("Lobby", "secret", "Zed", "127.0.0.8"), kLoginOk);
}

TEST_F(Admin, AnUnusableDatabaseLeavesTheServerRunningWithoutBans) {
  std::filesystem::create_directory(server.DatabasePath());
  Start();
  auto boss = InLobby("Boss", "127.0.0.1");
  auto bob = InLobby("Bob", "127.0.0.2");
  boss->Send(11, "Bob|cheating");
  boss->Send(14, "1");
  EXPECT_TRUE(BanList(*boss).empty());
  EXPECT_TRUE(boss->Step(9, "", 9, "1"));
  // A ban that could not be stored is no ban: no notice, no "Banned" line, only the failure.
  EXPECT_TRUE(bob->ExpectNothing());
  ASSERT_TRUE(Logged("Error recording ban of Bob: no server database"));
  EXPECT_EQ(server.CountLog("Bob on network Lobby Banned: cheating"), 0u);
  bob.reset();
  ASSERT_TRUE(Logged("Client Disconnect: (102) Bob"));
  EXPECT_EQ(TryLogIn("Lobby", "secret", "Bob", "127.0.0.2"), kLoginOk);

  // The failure is logged once, during start-up.
  std::set<std::string> usual = {"Loading Settings...",   "Initializing Server Socket...",
                                 "Loading Networks...",   "Reading Network Files...",
                                 "Loaded Network: Lobby", "Loaded Network: Arena"};
  size_t unusual = 0;
  for (const auto& line : server.LogMessages()) {
    if (line == "Listening...") break;
    if (!usual.count(line) && line.rfind("Network loaded: ", 0) != 0) ++unusual;
  }
  EXPECT_EQ(unusual, 1u) << DescribeLog();
}

}  // namespace
}  // namespace velmora::e2e
