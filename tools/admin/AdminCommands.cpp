#include "AdminCommands.h"

#include <algorithm>
#include <iostream>

#include "AdminClient.h"
#include "AdminOptions.h"
#include "ServerText.h"
#include "protocol/AdminPayloads.h"
#include "protocol/Position.h"
#include "base/TextCase.h"

namespace velmora::admin {

namespace {

[[noreturn]] void Usage(const std::string& message) {
  throw AdminFailure(ExitCode::kUsage, message);
}

std::string JoinWords(const std::vector<std::string>& words, size_t from) {
  std::string text;
  for (size_t i = from; i < words.size(); ++i) {
    if (i > from) text += ' ';
    text += words[i];
  }
  return text;
}

void CheckNone(const AdminOptions& options) {
  auto& arguments = options.arguments;
  if (!arguments.empty()) Usage("this command takes no arguments, not '" + arguments[0] + "'");
}

// USER [REASON...]: the server splits the request at "|", so neither may hold one.
void CheckUserAndReason(const AdminOptions& options) {
  auto& arguments = options.arguments;
  if (arguments.empty() || arguments[0].empty()) Usage("name the user");
  if (arguments[0].find('|') != std::string::npos)
    Usage("a user name with '|' cannot be named in a request");
  if (JoinWords(arguments, 1).find('|') != std::string::npos)
    Usage("the reason cannot hold '|': the server would cut it there");
}

void CheckBanTarget(const AdminOptions& options) {
  CheckUserAndReason(options);
  if (EqualsIgnoreCase(options.arguments[0], options.user))
    Usage("refusing to ban yourself: the ban would hold your own address");
}

void CheckBanId(const AdminOptions& options) {
  auto& arguments = options.arguments;
  if (arguments.size() != 1) Usage("give exactly one ban id (see the bans command)");
  const std::string& id = arguments[0];
  if (id.empty() || id.size() > 18 ||
      !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }))
    Usage("a ban id is a whole number, as the bans command lists it, not '" + id + "'");
}

void CheckText(const AdminOptions& options) {
  if (JoinWords(options.arguments, 0).empty()) Usage("give the text to announce");
}

// The server ignores the administrators' requests of anybody else without a word, so each of
// them is preceded by the question; otherwise a refusal would look like success.
void RequireAdministrator(AdminClient& client, const AdminOptions& options) {
  if (client.IsAdministrator()) return;
  throw AdminFailure(
      ExitCode::kNotAdministrator,
      "'" + options.user + "' is not an administrator of network '" + options.network +
          "': the network file must hold <User Name=\"" + options.user +
          "\" IsAdmin=\"1\" LastIP=\"...\"/> with LastIP the address this tool connects from, "
          "and the server reads it only when it starts");
}

// The other members as the server lists them. The administrator query behind the request is
// answered only after every member position, so its answer marks the end of the list.
std::vector<MemberPosition> ListMembers(AdminClient& client) {
  std::vector<Message> before;
  client.SendMessage(Wire(ClientCode::kMemberListRequest), "");
  client.Ask(ClientCode::kAdminQuery, "", ServerCode::kAdminAnswer, "the member list", &before);
  std::vector<MemberPosition> members;
  for (auto& message : before) {
    if (!message.Is(ServerCode::kMemberPosition)) continue;
    auto member = ReadMemberPosition(message.data);
    if (!member) continue;
    // A member who moves while the list comes is reported twice: keep the newer position.
    auto same = std::find_if(members.begin(), members.end(), [&](const MemberPosition& known) {
      return EqualsIgnoreCase(known.Name, member->Name);
    });
    if (same != members.end())
      *same = *member;
    else
      members.push_back(*member);
  }
  return members;
}

std::vector<BanListEntry> ListBans(AdminClient& client) {
  return ReadBanList(
      client.Ask(ClientCode::kBanListRequest, "", ServerCode::kBanList, "the ban list request"));
}

// Kick and ban reach only users logged in on the administrator's network; saying so beats
// sending a request that silently reaches nobody.
void RequireLoggedIn(AdminClient& client, const AdminOptions& options, const std::string& user) {
  if (EqualsIgnoreCase(user, options.user)) return;
  auto members = ListMembers(client);
  bool present = std::any_of(members.begin(), members.end(), [&](const MemberPosition& member) {
    return EqualsIgnoreCase(member.Name, user);
  });
  if (!present)
    throw AdminFailure(ExitCode::kNoTarget, "'" + user + "' is not logged in on network '" +
                                                options.network + "'; nothing was sent");
}

std::string Flag(bool value) { return value ? "yes" : "no"; }

ExitCode RunWho(AdminClient& client, const AdminOptions& options) {
  auto members = ListMembers(client);
  if (members.empty()) {
    std::cout << "No other members on network " << Printable(options.network) << ".\n";
    return ExitCode::kOk;
  }
  std::vector<std::vector<std::string>> rows = {
      {"NAME", "X", "Y", "FACET", "HP", "BATTLE", "DEAD"}};
  for (auto& member : members)
    rows.push_back({Printable(member.Name), std::to_string(member.Report.X),
                    std::to_string(member.Report.Y), std::to_string(member.Report.Facet),
                    std::to_string(member.Report.HP), Flag(member.Report.InBattle),
                    Flag(member.Report.IsDead)});
  std::cout << FormatTable(rows);
  return ExitCode::kOk;
}

ExitCode RunKickOrBan(AdminClient& client, const AdminOptions& options, bool ban) {
  const std::string& user = options.arguments[0];
  std::string reason = JoinWords(options.arguments, 1);
  RequireAdministrator(client, options);
  RequireLoggedIn(client, options, user);
  if (!ban) {
    client.SendMessage(Wire(ClientCode::kKickRequest), UserAndReasonPayload(user, reason));
    // Answered after the kick has been handled: the notice is out when this returns.
    client.IsAdministrator();
    std::cout << "Kicked " << Printable(user) << " from network " << Printable(options.network)
              << (reason.empty() ? "" : " (" + Printable(reason) + ")") << ".\n";
    return ExitCode::kOk;
  }
  auto before = ListBans(client);
  client.SendMessage(Wire(ClientCode::kBanRequest), UserAndReasonPayload(user, reason));
  auto after = ListBans(client);
  int recorded = 0;
  for (auto& entry : after) {
    bool known = std::any_of(before.begin(), before.end(),
                             [&](const BanListEntry& old) { return old.Id == entry.Id; });
    if (known) continue;
    ++recorded;
    std::cout << "Banned " << Printable(user) << " on network " << Printable(options.network)
              << ": ban " << Printable(entry.Id) << ", address " << Printable(entry.Address)
              << ".\n";
  }
  if (recorded == 0)
    throw AdminFailure(ExitCode::kProtocol,
                       "the server recorded no ban for '" + user +
                           "' (its ban database may be unavailable: see the server's log)");
  return ExitCode::kOk;
}

ExitCode RunKick(AdminClient& client, const AdminOptions& options) {
  return RunKickOrBan(client, options, false);
}

ExitCode RunBan(AdminClient& client, const AdminOptions& options) {
  return RunKickOrBan(client, options, true);
}

ExitCode RunBans(AdminClient& client, const AdminOptions& options) {
  RequireAdministrator(client, options);
  auto bans = ListBans(client);
  if (bans.empty()) {
    std::cout << "No bans on network " << Printable(options.network) << ".\n";
    return ExitCode::kOk;
  }
  std::vector<std::vector<std::string>> rows = {{"ID", "ADDRESS", "BY", "DATE", "REASON"}};
  for (auto& ban : bans)
    rows.push_back({Printable(ban.Id), Printable(ban.Address), Printable(ban.By),
                    Printable(ban.When), Printable(ban.Reason)});
  std::cout << FormatTable(rows);
  return ExitCode::kOk;
}

ExitCode RunUnban(AdminClient& client, const AdminOptions& options) {
  // Ids are compared as numbers: "007" names ban 7.
  std::string id = options.arguments[0];
  id.erase(0, std::min(id.find_first_not_of('0'), id.size() - 1));
  RequireAdministrator(client, options);
  auto matches = [&](const BanListEntry& entry) { return entry.Id == id; };
  auto before = ListBans(client);
  auto entry = std::find_if(before.begin(), before.end(), matches);
  if (entry == before.end())
    throw AdminFailure(ExitCode::kNoTarget, "no ban with id " + id + " on network '" +
                                                options.network + "' (see the bans command)");
  client.SendMessage(Wire(ClientCode::kLiftBanRequest), id);
  // The server answers nothing; the list read after the request shows whether the row went.
  auto after = ListBans(client);
  if (std::any_of(after.begin(), after.end(), matches))
    throw AdminFailure(ExitCode::kProtocol, "the server did not lift ban " + id +
                                                " (see the server's log)");
  std::cout << "Lifted ban " << id << " (address " << Printable(entry->Address) << ", banned by "
            << Printable(entry->By) << "); that address may log in again.\n";
  return ExitCode::kOk;
}

ExitCode RunAnnounce(AdminClient& client, const AdminOptions& options) {
  std::string text = JoinWords(options.arguments, 0);
  RequireAdministrator(client, options);
  client.SendMessage(Wire(ClientCode::kAnnouncementRequest), text);
  client.IsAdministrator();  // answered once the announcement is out
  std::cout << "Announced to network " << Printable(options.network) << ".\n";
  return ExitCode::kOk;
}

ExitCode RunIsAdmin(AdminClient& client, const AdminOptions& options) {
  bool admin = client.IsAdministrator();
  std::cout << Printable(options.user) << (admin ? " is" : " is not")
            << " an administrator of network " << Printable(options.network) << ".\n";
  return admin ? ExitCode::kOk : ExitCode::kNotAdministrator;
}

}  // namespace

const std::vector<AdminCommand>& Commands() {
  static const std::vector<AdminCommand> commands = {
      {"who", "", "list the other members of the network and their positions",
       "Prints one line per member logged in on the network (this user excepted): name,\n"
       "x and y, facet, hit points, and whether in battle or dead. Any member may ask.\n",
       CheckNone, RunWho},
      {"kick", "USER [REASON...]", "remove a member from the network",
       "Sends USER the kick notice with REASON (the remaining words) and removes USER from\n"
       "the network; the server closes the connection once the notice is out. Administrators\n"
       "only.\n"
       "Exits with 8 when USER is not logged in on the network.\n",
       CheckUserAndReason, RunKick},
      {"ban", "USER [REASON...]", "ban a member's address from the network",
       "Sends USER the ban notice with REASON and records a ban of the address USER is\n"
       "connected from, for this network: that address is refused at log-in until the ban\n"
       "is lifted. Only a user who is logged in can be banned (exit 8 otherwise). Prints the\n"
       "new ban's id. Administrators only.\n",
       CheckBanTarget, RunBan},
      {"bans", "", "list the bans of the network",
       "Prints the bans recorded for the network: id, address, who banned it, when, and\n"
       "why. Administrators only.\n"
       "With --database PATH it reads the server's database file (velmora.db) instead,\n"
       "without a server or a log-in, and lists the bans of every network, with a NETWORK\n"
       "column.\n",
       CheckNone, RunBans},
      {"unban", "ID", "lift a ban by its id",
       "Lifts the ban ID of the network (the id the bans command lists), then reads the\n"
       "list again to confirm that it is gone. Exits with 8 when the network has no such\n"
       "ban. Administrators only.\n"
       "With --database PATH it deletes the row ID from the server's database file\n"
       "(velmora.db) instead, without a server or a log-in: the way back for an\n"
       "administrator whom a ban of a shared address shuts out. Ids are those that\n"
       "--database PATH bans lists.\n",
       CheckBanId, RunUnban},
      {"announce", "TEXT...", "send an announcement to every member of the network",
       "Sends TEXT (the remaining words, joined by spaces) to every member of the network,\n"
       "this user included. Administrators only.\n",
       CheckText, RunAnnounce},
      {"is-admin", "", "tell whether the user is an administrator of the network",
       "Asks the server whether this connection counts as an administrator: the network\n"
       "file lists the user with IsAdmin=\"1\" and a LastIP equal to the address this tool\n"
       "connects from. Exits with 0 when it does and 6 when it does not.\n",
       CheckNone, RunIsAdmin},
      {"watch", "", "print positions, chat, departures and notices as they come",
       "Stays logged in and prints one line per event, with the local time: positions,\n"
       "chat, members leaving, announcements, kick and ban notices. The current members'\n"
       "positions come first. Ends on Ctrl-C or SIGTERM (exit 0), when the server closes\n"
       "the connection (exit 2), or when this user is kicked or banned (exit 9).\n",
       CheckNone, RunWatch},
  };
  return commands;
}

const AdminCommand* FindCommand(const std::string& name) {
  for (auto& command : Commands())
    if (name == command.name) return &command;
  return nullptr;
}

namespace {

const char kConnectionOptions[] =
    "Options (before or after the command; -- ends them):\n"
    "  -H, --host HOST        server address or name (default 127.0.0.1)\n"
    "  -p, --port PORT        the network's port, as its network file gives it (required)\n"
    "  -n, --network NAME     the network to log into (required)\n"
    "  -u, --user NAME        the user name to log in as (required): 1 to 64 bytes, no\n"
    "                         control byte and no '|', or the server refuses it\n"
    "      --password-file F  read the network's password from the first line of F\n"
    "                         (- for standard input); without it the password is asked for\n"
    "                         on the terminal, or read from standard input when that is not\n"
    "                         a terminal. It is never taken from the command line.\n"
    "  -t, --timeout SECONDS  longest wait for each answer of the server, or for the\n"
    "                         running server's lock on the database (default 5)\n"
    "      --database PATH    work on the server's database file (velmora.db) instead of\n"
    "                         logging in: bans and unban only, without --host, --port,\n"
    "                         --network, --user or --password-file. It is never created.\n"
    "  -h, --help             this help; COMMAND --help for a command's own\n";

const char kExitCodes[] =
    "Exit status:\n"
    "  0 done   1 usage   2 no connection or connection lost   3 network refused\n"
    "  4 password refused   5 user name refused   6 not an administrator\n"
    "  7 no answer in time, or the server did not carry the command out\n"
    "  8 no such user logged in, or no such ban   9 watch: this user was kicked or banned\n"
    "  With --database: 2 the file is missing, unreadable or not the server's database;\n"
    "  7 the ban could not be deleted (locked too long, or the file is read-only)\n";

}  // namespace

std::string ToolHelp() {
  std::string text =
      "Usage: velmora-admin [OPTIONS] COMMAND [ARGUMENTS]\n"
      "       velmora-admin --database PATH bans\n"
      "       velmora-admin --database PATH unban ID\n"
      "Logs into a network of a Velmora server and runs one command; with --database,\n"
      "lists or lifts bans in the server's database file without a server or a log-in.\n\n"
      "Commands:\n";
  for (auto& command : Commands()) {
    std::string head = std::string(command.name) + " " + command.synopsis;
    head.resize(std::max<size_t>(head.size() + 1, 24), ' ');
    text += "  " + head + command.summary + "\n";
  }
  return text + "\n" + kConnectionOptions + "\n" + kExitCodes;
}

std::string CommandHelp(const AdminCommand& command) {
  std::string synopsis = command.synopsis;
  return "Usage: velmora-admin [OPTIONS] " + std::string(command.name) +
         (synopsis.empty() ? "" : " " + synopsis) + "\n" + command.details + "\n" +
         kConnectionOptions + "\n" + kExitCodes;
}

}  // namespace velmora::admin
