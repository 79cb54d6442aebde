#include "client/ClientSocket.h"

#include "client/GeoLookup.h"
#include "protocol/PayloadFields.h"
#include "protocol/Position.h"
#include "host/App.h"
#include "base/NumberText.h"
#include "base/TextCase.h"
#include "base/Log.h"
#include "networks/ServerNetworks.h"
#include "platform/Md5.h"
#include "platform/SqliteDatabase.h"
#include "server/BanTable.h"
#include "server/MapSocket.h"

namespace velmora {

ClientSocket::ClientSocket(MapSocket& parent) : myParent(parent) {}

ClientSocket::~ClientSocket() { CancelLookup(); }

void ClientSocket::Log(const std::string& text) {
  myParent.CallStatusMessage(RemoteAddress() + ": " + text);
}

void ClientSocket::Event_Connected() {
  Log("Client Connection Initiated...");
  GetClientInfo();
}

void ClientSocket::GetClientInfo() {
  // The lookup runs in the background so that a slow service holds up this connection alone;
  // the network prompt follows once it has ended. A connection that goes away first cancels it,
  // so `this` is alive whenever the answer comes.
  auto located = [this](const ClientLocation& where) {
    lookupTicket_ = 0;
    if (where.Country) ClientCountry = *where.Country;
    if (where.State) ClientState = *where.State;
    if (where.City) ClientCity = *where.City;
    if (where.Zip) ClientZip = *where.Zip;
    if (where.TimeZone) ClientTimeZone = *where.TimeZone;
    if (where.Flag) ClientFlag = where.Flag;
    if (IsConnected()) SendPrompt();
  };
  lookupTicket_ = GeoLookup::Instance().Locate(RemoteAddress(), std::move(located));
}

void ClientSocket::CancelLookup() {
  if (lookupTicket_ == 0) return;
  GeoLookup::Instance().Cancel(lookupTicket_);
  lookupTicket_ = 0;
}

void ClientSocket::SendPrompt() {
  if (prompted_) return;
  prompted_ = true;
  SendMessage(1, "Network");
  DeliveryMayStart();
}

void ClientSocket::Event_Error(int64_t code) {
  auto keepAlive = shared_from_this();
  CancelLookup();
  modGlobal::LogMessage("Client Disconnect: (" + std::to_string(code) + ") " +
                            modGlobal::LogSafe(Username),
                        false);
  if (!Username.empty()) myParent.CallUserLoggedOut(*this);
  myParent.ClientDisconnect(*this);
  ReleaseSeat();
  Close();
}

void ClientSocket::Event_ReceivedMessage(int32_t command, const std::string& data) {
  switch (command) {
    case 1: SelectNetwork(data); break;
    case 2: CheckPassword(data); break;
    case 3: LogIn(data); break;
    case 4: ReportPosition(data); break;
    case 5: ListMembers(); break;
    case 7:
      if (member_) myParent.SendChatMessage(myNetwork, *this, data);
      break;
    case 9: SendMessage(9, isAdmin() ? "1" : "0"); break;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
      if (isAdmin()) HandleAdminCommand(command, data);
      break;
    case 999: SendMessage(999, "BYE"); break;
    default: break;  // every other code is ignored without a word
  }
}

void ClientSocket::ReleaseSeat() {
  if (seat_ == nullptr) return;
  --seat_->CurrentUsers;
  seat_ = nullptr;
}

void ClientSocket::LeaveNetwork() {
  passwordAccepted_ = false;
  if (member_) {
    myParent.CallUserLoggedOut(*this);
    myParent.ClientDisconnect(*this);
  }
  Username.clear();
  myUser = nullptr;
}

void ClientSocket::SelectNetwork(const std::string& name) {
  // A new selection starts the log-in over: it gives back the seat held so far.
  LeaveNetwork();
  ReleaseSeat();
  myNetwork = myParent.FindNetwork(name);
  bool accepted = myNetwork != nullptr && myNetwork->Enabled &&
                  myNetwork->CurrentUsers < myNetwork->MaxUsers;
  if (accepted) {
    SendMessage(2, "OK");
    seat_ = myNetwork;
    ++seat_->CurrentUsers;
  } else {
    SendMessage(2, "FAIL");
    Log("Network Fail (" + modGlobal::LogSafe(name) + ")");
  }
}

void ClientSocket::CheckPassword(const std::string& digest) {
  // Only a selection that took a seat can be followed by a password.
  bool accepted = myNetwork != nullptr && seat_ == myNetwork &&
                  platform::ConstantTimeEquals(platform::Md5Digest(myNetwork->Password), digest);
  passwordAccepted_ = accepted;
  if (accepted) {
    SendMessage(3, "OK");
  } else {
    SendMessage(3, "FAIL");
    Log("Login Failed.");
  }
}

void ClientSocket::LogIn(const std::string& name) {
  auto refuse = [&](const std::string& why) {
    SendMessage(4, "FAIL");
    Log(why + " (" + modGlobal::LogSafe(name) + ")");
  };
  if (!passwordAccepted_ || myNetwork == nullptr || name.empty()) return refuse("Bad Username");
  VelmoraUser* record = getNetworkUser(name, RemoteAddress());
  bool bannedInFile = false;
  for (auto& banned : myNetwork->Bans)
    if (banned.get() == record && record != nullptr) bannedInFile = true;
  bool bannedInTable = false;
  try {
    bannedInTable = BanTable(App::Instance().serverdb.get())
                        .IsBanned(RemoteAddress(), myNetwork->NetworkName);
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage(std::string("Error reading bans: ") + error.what(), false);
  }
  if (bannedInFile || bannedInTable) return refuse("Banned");
  if (!CanLogin(name)) return refuse("Bad Username");

  Log("User Logged In (" + modGlobal::LogSafe(name) + ")");
  std::string oldName = Username;
  Username = name;
  if (member_)
    myParent.RenameMember(*this, oldName);
  else
    myParent.AddMember(*this);
  myUser = record;
  myParent.CallUserLoggedIn(*this);
  myNetwork->AddUserToNetwork(*this);
  SendMessage(4, "OK");
}

bool ClientSocket::CanLogin(const std::string& name) { return !myParent.NameInUse(name, *this); }

VelmoraUser* ClientSocket::getNetworkUser(const std::string& name,
                                          const std::string& address) const {
  if (myNetwork == nullptr) return nullptr;
  for (auto& user : myNetwork->Users)
    if (EqualsIgnoreCase(user->Name, name) && EqualsIgnoreCase(user->LastIP, address))
      return user.get();
  return nullptr;
}

bool ClientSocket::isAdmin() const {
  if (myNetwork == nullptr || myUser == nullptr) return false;
  for (auto& admin : myNetwork->Admins)
    if (admin.get() == myUser) return true;
  return false;
}

bool ClientSocket::isBanned() const {
  if (myNetwork == nullptr || myUser == nullptr) return false;
  for (auto& banned : myNetwork->Bans)
    if (banned.get() == myUser) return true;
  return false;
}

void ClientSocket::ReportPosition(const std::string& data) {
  // Each field is stored as soon as it is read; missing fields read as 0.
  PositionReport report = ReadPositionReport(data);
  X = report.X;
  Y = report.Y;
  Facet = report.Facet;
  HP = report.HP;
  InBattle = report.InBattle;
  IsDead = report.IsDead;
  if (member_ && X >= 0 && Y >= 0 && Facet >= 0 && HP >= 0) myParent.BroadcastPosition(*this);
}

void ClientSocket::ListMembers() {
  if (!member_) return;
  for (ClientSocket* member : myParent.Members(myNetwork))
    if (member != this) SendMessage(5, MemberPositionText(member->Username, member->Position()));
}

}  // namespace velmora
