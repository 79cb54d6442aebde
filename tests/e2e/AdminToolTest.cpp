// velmora-admin against the real server over loopback: every command, every refusal, and the
// exit status a script would read.
#include "e2e/AdminToolFixture.h"
#include "platform/adapters/SqliteDatabase.h"
#include "server/BanStore.h"

namespace velmora::admintest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class AdminTool : public AdminToolFixture {};

// --- the command line, before anything is sent -------------------------------------------

TEST_F(AdminTool, HelpNamesEveryCommandAndTheExitCodes) {
  auto help = RunTool({ToolPath(), "--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"who", "kick USER", "ban USER", "bans", "unban ID", "announce TEXT",
                           "is-admin", "watch", "--password-file", "6 not an administrator",
                           "--database PATH unban ID"})
    EXPECT_THAT(help.out, HasSubstr(word));

  for (const char* command : {"who", "kick", "ban", "bans", "unban", "announce", "is-admin",
                              "watch"}) {
    auto own = RunTool({ToolPath(), command, "--help"});
    EXPECT_EQ(own.status, 0) << command;
    EXPECT_THAT(own.out, HasSubstr(std::string("Usage: velmora-admin [OPTIONS] ") + command));
    EXPECT_EQ(RunTool({ToolPath(), "help", command}).out, own.out);
  }
}

TEST_F(AdminTool, RefusesBadCommandLinesWithStatusOneBeforeConnecting) {
  // No server runs: each of these must fail on its own words, never on the connection.
  auto full = [&](std::vector<std::string> words) { return RunTool(Args(words, "Admin")); };
  std::vector<ToolResult> refused = {
      RunTool({ToolPath()}),
      full({"frobnicate"}),
      full({"kick"}),
      full({"kick", "Bo|b"}),
      full({"ban", "Bob", "a|b"}),
      full({"unban"}),
      full({"unban", "x3"}),
      full({"unban", "1", "2"}),
      full({"announce"}),
      full({"who", "extra"}),
      full({"ban", "admin"}),  // one's own address
      RunTool({ToolPath(), "--port", "0", "-n", "Lobby", "-u", "A", "who"}),
      RunTool({ToolPath(), "--port", "5000", "-u", "A", "who"}),
      RunTool({ToolPath(), "--port", "5000", "-n", "Lobby", "who"}),
      RunTool({ToolPath(), "--password", "x", "-p", "5000", "-n", "Lobby", "-u", "A", "who"}),
      RunTool({ToolPath(), "--timeout", "0", "-p", "5000", "-n", "Lobby", "-u", "A", "who"}),
  };
  for (auto& result : refused) {
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_THAT(result.err, HasSubstr("velmora-admin: "));
    EXPECT_THAT(result.err, Not(HasSubstr("connect")));
  }
}

TEST_F(AdminTool, AUserNameBeyondTheServersRuleIsRefusedBeforeConnecting) {
  // No server runs: a name within the rule gets as far as the connection, one beyond it not.
  auto as = [&](const std::string& user) { return RunTool(Args({"who"}, user)); };
  auto longest = as(std::string(64, 'a'));
  EXPECT_EQ(longest.status, 2) << longest.err;
  const std::pair<std::string, std::string> cases[] = {
      {std::string(65, 'a'), "the user name is longer than 64 bytes"},
      {"Bo|b", "the user name holds \"|\""},
      {"Bob\x01", "the user name holds a control byte"},
  };
  for (const auto& [user, fault] : cases) {
    auto result = as(user);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_THAT(result.err, HasSubstr(fault));
  }
}

TEST_F(AdminTool, WithoutAPasswordItStopsWithStatusOne) {
  StartWithAdmin();
  std::vector<std::string> argv = {ToolPath(), "-p", std::to_string(Port()), "-n", kNetwork,
                                   "-u", "Admin", "who"};
  auto result = RunTool(argv, "");  // standard input is an empty file, not a terminal
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.err, HasSubstr("no password"));
  // Piped in, the first line serves.
  auto piped = RunTool(argv, std::string(kPassword) + "\nignored\n");
  EXPECT_EQ(piped.status, 0) << piped.err;
}

// --- each log-in step's refusal --------------------------------------------------------------

TEST_F(AdminTool, ConnectionFailuresGiveStatusTwo) {
  auto refused = Admin({"who"});  // nothing listens on the port
  EXPECT_EQ(refused.status, 2);
  EXPECT_THAT(refused.err, HasSubstr("connection refused"));

  // A port that accepts but never prompts: not a network of this server.
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(Port());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  auto argv = Args({"who"}, "Admin");
  argv[argv.size() - 2] = "1";  // --timeout 1
  auto silent = RunTool(argv);
  ::close(listener);
  EXPECT_EQ(silent.status, 2);
  EXPECT_THAT(silent.err, HasSubstr("no network prompt"));
}

TEST_F(AdminTool, EachRefusedLogInStepHasItsOwnStatus) {
  WriteNetwork({{"Admin", "127.0.0.1", "1", "0"}, {"Mallory", "127.0.0.1", "0", "1"}});
  WriteNetwork({}, "0", "1", "Full", FreePort());
  WriteNetwork({}, "20", "0", "Closed", FreePort());
  StartServer();

  auto network = [&](const std::string& name) { return RunTool(Args({"who"}, "Admin", "127.0.0.1", name)); };
  for (const char* name : {"Nowhere", "Full", "Closed"}) {
    auto result = network(name);
    EXPECT_EQ(result.status, 3) << name;
    EXPECT_THAT(result.err, HasSubstr("network '" + std::string(name) + "' refused"));
  }
  EXPECT_EQ(network("lobby").status, 0);  // network names ignore letter case

  WriteFile(PasswordFile(), "wrong\n");
  auto password = Admin({"who"});
  EXPECT_EQ(password.status, 4);
  EXPECT_THAT(password.err, HasSubstr("password refused"));
  EXPECT_THAT(password.err, HasSubstr("the server's log names the reason"));
  WriteFile(PasswordFile(), std::string(kPassword) + "\r\n");  // a Windows line end is no part

  // Flagged as banned in the network file, from the recorded address.
  auto banned = RunTool(Args({"who"}, "Mallory"));
  EXPECT_EQ(banned.status, 5);
  EXPECT_THAT(banned.err, HasSubstr("user name 'Mallory' refused"));

  // A name in use on the server.
  auto watch = StartWatch("Carol", "127.0.0.1");
  auto taken = RunTool(Args({"who"}, "carol"));
  EXPECT_EQ(taken.status, 5);
  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Wait(10s), 0);
}

// --- administrators only ---------------------------------------------------------------------

TEST_F(AdminTool, AdministratorsCommandsRefuseOthersWithStatusSix) {
  // Dave is flagged as an administrator, but from another address than this one.
  WriteNetwork({{"Admin", "127.0.0.1", "1", "0"}, {"Dave", "10.9.8.7", "1", "0"},
                {"Bob", "127.0.0.1", "0", "0"}});
  StartServer();
  EXPECT_EQ(Admin({"is-admin"}).status, 0);
  EXPECT_THAT(Admin({"is-admin"}).out, HasSubstr("Admin is an administrator of network Lobby"));

  for (const char* user : {"Bob", "Dave", "Newcomer"}) {
    std::vector<std::vector<std::string>> commands = {
        {"is-admin"}, {"kick", "Admin"}, {"ban", "Admin"}, {"bans"}, {"unban", "1"},
        {"announce", "hello"}};
    for (auto& words : commands) {
      auto result = RunTool(Args(words, user));
      EXPECT_EQ(result.status, 6) << user << " " << words[0];
      EXPECT_THAT(result.err + result.out, HasSubstr("not an administrator"));
    }
  }
  // Any member may list the members.
  EXPECT_EQ(RunTool(Args({"who"}, "Bob")).status, 0);
  EXPECT_THAT(LogText(), Not(HasSubstr("Kicked")));
}

// --- the administrator at work ---------------------------------------------------------------

TEST_F(AdminTool, KickReachesTheMemberAndAnAbsentUserIsSaidSo) {
  StartWithAdmin();
  auto watch = StartWatch("Bob", "127.0.0.1");

  auto who = Admin({"who"});
  EXPECT_EQ(who.status, 0) << who.err;
  EXPECT_THAT(who.out, HasSubstr("NAME"));
  EXPECT_THAT(who.out, HasSubstr("Bob"));

  auto announce = Admin({"announce", "Server", "restarts", "soon"});
  EXPECT_EQ(announce.status, 0) << announce.err;
  EXPECT_TRUE(watch->WaitForOutput("announcement: Server restarts soon"));

  auto absent = Admin({"kick", "Zed", "spam"});
  EXPECT_EQ(absent.status, 8);
  EXPECT_THAT(absent.err, HasSubstr("'Zed' is not logged in"));

  auto kick = Admin({"kick", "BOB", "please", "leave"});
  EXPECT_EQ(kick.status, 0) << kick.err;
  EXPECT_THAT(kick.out, HasSubstr("Kicked BOB from network Lobby (please leave)"));
  EXPECT_EQ(watch->Wait(10s), 9);
  EXPECT_THAT(watch->Out(), HasSubstr("kicked: please leave"));
  EXPECT_THAT(LogText(), HasSubstr("BOB on network Lobby Kicked: please leave"));
}

TEST_F(AdminTool, BanListAndLiftTheBanOfAMember) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no ::1 here: a second client address is needed";
  StartWithAdmin();
  auto empty = Admin({"bans"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_THAT(empty.out, HasSubstr("No bans on network Lobby"));

  // Bob comes from ::1, so that banning his address leaves the administrator's alone.
  auto watch = StartWatch("Bob", "::1");
  auto ban = Admin({"ban", "bob", "cheating"});
  EXPECT_EQ(ban.status, 0) << ban.err;
  EXPECT_THAT(ban.out, HasSubstr("Banned bob on network Lobby: ban 1, address ::1."));
  EXPECT_EQ(watch->Wait(10s), 9);
  EXPECT_THAT(watch->Out(), HasSubstr("banned: cheating"));

  auto bans = Admin({"bans"});
  EXPECT_EQ(bans.status, 0);
  EXPECT_THAT(bans.out, HasSubstr("ID  ADDRESS  BY     DATE"));
  EXPECT_THAT(bans.out, HasSubstr("1   ::1      Admin  "));
  EXPECT_THAT(bans.out, HasSubstr("cheating"));

  auto refused = RunTool(Args({"who"}, "Bob", "::1"));
  EXPECT_EQ(refused.status, 5);
  EXPECT_THAT(refused.err, HasSubstr("banned"));
  // The ban is of the address on this network: under another name the door stays shut.
  EXPECT_EQ(RunTool(Args({"who"}, "Robert", "::1")).status, 5);

  auto absent = Admin({"ban", "Zed"});
  EXPECT_EQ(absent.status, 8);
  auto noSuchBan = Admin({"unban", "2"});
  EXPECT_EQ(noSuchBan.status, 8);
  EXPECT_THAT(noSuchBan.err, HasSubstr("no ban with id 2"));

  auto lift = Admin({"unban", "001"});
  EXPECT_EQ(lift.status, 0) << lift.err;
  EXPECT_THAT(lift.out, HasSubstr("Lifted ban 1 (address ::1, banned by Admin)"));
  EXPECT_THAT(Admin({"bans"}).out, HasSubstr("No bans"));
  EXPECT_EQ(RunTool(Args({"who"}, "Bob", "::1")).status, 0);
}

TEST_F(AdminTool, BansOfAnotherNetworkAreNeitherListedNorLifted) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no ::1 here: a second client address is needed";
  // Arena's administrator bans Bob there; Lobby's administrator sees none of it.
  WriteNetwork({{"Admin", "127.0.0.1", "1", "0"}});
  uint16_t arenaPort = FreePort();
  WriteNetwork({{"Boss", "127.0.0.1", "1", "0"}}, "20", "1", "Arena", arenaPort);
  StartServer();
  auto arena = [&](std::vector<std::string> words, const std::string& user) {
    return RunTool(Args(words, user, "127.0.0.1", "Arena", arenaPort));
  };
  auto watch = StartWatch(Args({"watch"}, "Bob", "::1", "Arena", arenaPort));
  ASSERT_EQ(arena({"ban", "Bob", "griefing"}, "Boss").status, 0);
  EXPECT_EQ(watch->Wait(10s), 9);

  EXPECT_THAT(Admin({"bans"}).out, HasSubstr("No bans on network Lobby"));
  EXPECT_EQ(Admin({"unban", "1"}).status, 8);
  EXPECT_THAT(arena({"bans"}, "Boss").out, HasSubstr("griefing"));
  // Bob may still use Lobby from the address Arena banned.
  EXPECT_EQ(RunTool(Args({"who"}, "Bob", "::1")).status, 0);
}

// --- the database file, without a server --------------------------------------------------

TEST_F(AdminTool, DatabaseBansAndUnbanWorkOnTheFileAndNeverCreateIt) {
  std::string path = server_.Folder() + "/scratch.db";
  {
    platform::SqliteDatabase db(path);
    BanStore::Prepare(db);
    BanStore bans(&db);
    ASSERT_TRUE(bans.Record("10.0.0.5", "Admin", "cheating", 1700000000, "Lobby", "Bob"));
    ASSERT_TRUE(bans.Record("::1", "Boss", "griefing", 1700000000, "Arena", "Cy"));
  }
  auto offline = [&](std::vector<std::string> words, const std::string& file) {
    std::vector<std::string> argv = {ToolPath(), "--database", file};
    argv.insert(argv.end(), words.begin(), words.end());
    return RunTool(argv);
  };

  auto listed = offline({"bans"}, path);
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_THAT(listed.out, HasSubstr("ID  ADDRESS   BY     DATE"));
  EXPECT_THAT(listed.out, HasSubstr("NETWORK  REASON"));
  EXPECT_THAT(listed.out, HasSubstr("Lobby    cheating"));
  EXPECT_THAT(listed.out, HasSubstr("2   ::1       Boss   "));

  auto lifted = offline({"unban", "01"}, path);
  EXPECT_EQ(lifted.status, 0) << lifted.err;
  EXPECT_THAT(lifted.out, HasSubstr("Lifted ban 1 (address 10.0.0.5, banned by Admin on network "
                                    "Lobby)"));
  auto after = offline({"bans"}, path);
  EXPECT_THAT(after.out, Not(HasSubstr("cheating")));
  EXPECT_THAT(after.out, HasSubstr("griefing"));
  EXPECT_EQ(offline({"unban", "1"}, path).status, 8);

  // Not the server's database, or none: status 2, and no file left behind.
  std::string missing = server_.Folder() + "/nothing.db";
  for (auto words : {std::vector<std::string>{"bans"}, std::vector<std::string>{"unban", "2"}}) {
    auto absent = offline(words, missing);
    EXPECT_EQ(absent.status, 2) << words[0];
    EXPECT_THAT(absent.err, HasSubstr("no such file"));
    EXPECT_FALSE(fs::exists(missing)) << words[0];
  }
  EXPECT_EQ(offline({"bans"}, PasswordFile()).status, 2);
  {
    platform::SqliteDatabase other(server_.Folder() + "/other.db");
    other.Execute("CREATE TABLE users (name TEXT)");
  }
  auto foreign = offline({"unban", "2"}, server_.Folder() + "/other.db");
  EXPECT_EQ(foreign.status, 2);
  EXPECT_THAT(foreign.err, HasSubstr("no table bans"));

  // Only the offline commands, and without the options of a log-in.
  EXPECT_EQ(offline({"who"}, path).status, 1);
  EXPECT_EQ(offline({"--network", "Lobby", "bans"}, path).status, 1);
}

// The sample server's case: the administrator shares the banned address. The way back works
// while the server runs, and the server's next log-in check sees it.
TEST_F(AdminTool, AnAdministratorShutOutByABanLiftsItOnTheDatabaseOfTheRunningServer) {
  StartWithAdmin();
  {
    platform::SqliteDatabase db(server_.DatabasePath());
    ASSERT_TRUE(BanStore(&db).Record("127.0.0.1", "Admin", "shared", 1700000000, "Lobby", "Bob"));
  }
  ASSERT_EQ(Admin({"is-admin"}).status, 5);
  auto lifted = RunTool({ToolPath(), "--database", server_.DatabasePath(), "unban", "1"});
  EXPECT_EQ(lifted.status, 0) << lifted.err;
  EXPECT_EQ(Admin({"is-admin"}).status, 0);
}

// --- watch -----------------------------------------------------------------------------------

TEST_F(AdminTool, WatchPrintsPositionsChatAndDeparturesUntilInterrupted) {
  StartWithAdmin();
  e2e::WireClient cy(Port());
  ASSERT_TRUE(cy.LogIn(kNetwork, kPassword, "Cy"));
  cy.Send(4, "10,20,3,100,1,0");

  auto watch = StartWatch("Admin", "127.0.0.1");
  // The members present when it starts come first.
  EXPECT_TRUE(watch->WaitForOutput("position Cy x=10 y=20 facet=3 hp=100 battle=1 dead=0"));

  cy.Send(4, "-5,7,0,50,0,1");  // stored, never relayed
  cy.Send(4, "11,21,3,99,0,1");
  EXPECT_TRUE(watch->WaitForOutput("position Cy x=11 y=21 facet=3 hp=99 battle=0 dead=1"));
  // Control characters from a member must not reach the operator's terminal as such.
  const char chat[] = "hi \x1b[2J there\x07";
  cy.Send(7, std::string(chat, sizeof chat - 1));
  EXPECT_TRUE(watch->WaitForOutput("chat Cy: hi \\x1b[2J there\\x07"));

  auto who = Admin({"who"});  // a second log-in as Admin is refused while watch holds the name
  EXPECT_EQ(who.status, 5);
  auto asBob = RunTool(Args({"who"}, "Bob"));
  EXPECT_EQ(asBob.status, 0) << asBob.err;
  EXPECT_THAT(asBob.out, HasSubstr("Cy     11  21  3      99  no      yes"));
  EXPECT_TRUE(watch->WaitForOutput("left Bob"));

  cy.Close();
  EXPECT_TRUE(watch->WaitForOutput("left Cy"));
  EXPECT_THAT(watch->Out(), Not(HasSubstr("x=-5")));
  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Wait(10s), 0);
}

TEST_F(AdminTool, WatchEndsWithStatusTwoWhenTheServerStops) {
  StartWithAdmin();
  auto watch = StartWatch("Admin", "127.0.0.1");
  StopServer();
  EXPECT_EQ(watch->Wait(10s), 2);
  EXPECT_THAT(watch->Err(), HasSubstr("ended"));
}

TEST_F(AdminTool, WatchStopsOnSigterm) {
  StartWithAdmin();
  auto watch = StartWatch("Admin", "127.0.0.1");
  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Wait(10s), 0);
  // It left politely: the server logged the departure, and the name is free again.
  EXPECT_EQ(Admin({"is-admin"}).status, 0);
}

}  // namespace
}  // namespace velmora::admintest
