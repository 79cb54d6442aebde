#include "client/ClientSocket.h"

#include <utility>

#include "base/Log.h"
#include "base/TextCase.h"
#include "client/PasswordGuesses.h"
#include "networks/Registrar.h"
#include "networks/ServerNetworks.h"
#include "platform/adapters/Md5.h"
#include "platform/net/EventLoop.h"
#include "platform/net/WallClock.h"
#include "protocol/Position.h"
#include "protocol/ServerCounters.h"
#include "protocol/UserName.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"

namespace velmora {

namespace {

// The password step carries the raw MD5 digest of the network's password.
constexpr size_t kDigestBytes = 16;

// Why a connection that failed ended, told by the code it failed with. The ends the server
// decides on at once (the log-in deadline, a shed, a kick or ban) bring their reason along
// (Depart, Dismiss): their codes are also the system's error numbers, and a system's ETIMEDOUT
// is a failed connection, not a late log-in.
DepartureReason DepartureFor(int64_t code) {
  switch (code) {
    case platform::TcpConnection::kErrorLostConnection: return DepartureReason::kClosed;
    case platform::TcpConnection::kErrorProtocol: return DepartureReason::kFraming;
    case platform::TcpConnection::kErrorOutputOverflow: return DepartureReason::kOutputBound;
    case MapConnection::kErrorTooManyWrongPasswords: return DepartureReason::kOther;
    default: return code > 0 ? DepartureReason::kReset : DepartureReason::kOther;
  }
}

// Whether a dispatch table holds one handler for each of `codes`, in their order.
template <typename Handlers, typename Codes>
constexpr bool HandlesEach(const Handlers& handlers, const Codes& codes) {
  if (std::size(handlers) != std::size(codes)) return false;
  for (size_t i = 0; i < std::size(codes); ++i)
    if (handlers[i].code != codes[i]) return false;
  return true;
}

}  // namespace

// The messages a client may send and who may send them; every other code is ignored without a
// word, and so is an administrator's code from anyone else.
struct ClientSocket::Handler {
  ClientCode code;
  void (ClientSocket::*handle)(std::string_view data);
  bool administratorsOnly;
};

const ClientSocket::Handler* ClientSocket::FindHandler(int32_t command) {
  static constexpr Handler kHandlers[] = {
      {ClientCode::kNetworkSelection, &ClientSocket::SelectNetwork, false},
      {ClientCode::kPasswordDigest, &ClientSocket::CheckPassword, false},
      {ClientCode::kUserName, &ClientSocket::LogIn, false},
      {ClientCode::kPositionReport, &ClientSocket::ReportPosition, false},
      {ClientCode::kMemberListRequest, &ClientSocket::ListMembers, false},
      {ClientCode::kChat, &ClientSocket::Chat, false},
      {ClientCode::kAdminQuery, &ClientSocket::AnswerAdminQuery, false},
      {ClientCode::kKickRequest, &ClientSocket::Kick, true},
      {ClientCode::kBanRequest, &ClientSocket::Ban, true},
      {ClientCode::kAnnouncementRequest, &ClientSocket::Announce, true},
      {ClientCode::kBanListRequest, &ClientSocket::SendBanList, true},
      {ClientCode::kLiftBanRequest, &ClientSocket::LiftBan, true},
      {ClientCode::kGoodbye, &ClientSocket::SayGoodbye, false},
  };
  static_assert(HandlesEach(kHandlers, kClientCodes), "one handler per client code, in order");
  for (const Handler& handler : kHandlers)
    if (Wire(handler.code) == command) return &handler;
  return nullptr;
}

ClientSocket::ClientSocket(MapSocket& parent, ClientContext& context)
    : MapConnection(parent), context_(context) {
  SetInputLimits(kStrangerInput);
  SetOutputLimit(kStrangerOutput);
}

ClientSocket::~ClientSocket() { CancelLookup(); }

void ClientSocket::Log(const std::string& text) {
  myParent.CallStatusMessage(RemoteAddress() + ": " + text);
}

// The client hears only "FAIL", and each refusal line stands for several causes; the line after
// it tells the operator which one it was. Its words are the server's own, never the client's.
void ClientSocket::LogReason(std::string_view reason) {
  Log("Refusal Reason: " + std::string(reason));
}

const ClientLocation& ClientSocket::Location() const {
  static const ClientLocation kNowhere;
  return location_ ? *location_ : kNowhere;
}

ServerCounters& ClientSocket::Counters() const { return myParent.Context().counters; }

void ClientSocket::Answer(ServerCode code, std::string_view text) {
  ++Counters().Deliveries;
  SendMessage(Wire(code), text);
}

void ClientSocket::Event_Connected() {
  connectedSince_ = platform::WallTime();
  Log("Client Connection Initiated...");
  GetClientInfo();
}

void ClientSocket::GetClientInfo() {
  // The lookup runs in the background so that a slow service holds up this connection alone;
  // the network prompt follows once it has ended. A connection that goes away first cancels it,
  // so `this` is alive whenever the answer comes.
  waiting_ = std::make_unique<Waiting>();
  auto located = [this](const ClientLocation& where) {
    if (state_ == LoginState::kLocating) waiting_.reset();
    bool found = where.Country || where.State || where.City || where.Zip || where.TimeZone ||
                 where.Flag;
    if (found && !location_) location_ = std::make_unique<ClientLocation>();
    if (where.Country) location_->Country = where.Country;
    if (where.State) location_->State = where.State;
    if (where.City) location_->City = where.City;
    if (where.Zip) location_->Zip = where.Zip;
    if (where.TimeZone) location_->TimeZone = where.TimeZone;
    if (where.Flag) location_->Flag = where.Flag;
    if (IsConnected()) SendPrompt();
  };
  Locator::Ticket ticket = context_.locator.Locate(RemoteAddress(), std::move(located));
  if (waiting_ && state_ == LoginState::kLocating) waiting_->lookupTicket = ticket;
}

void ClientSocket::CancelLookup() {
  if (!waiting_ || waiting_->lookupTicket == 0) return;
  context_.locator.Cancel(std::exchange(waiting_->lookupTicket, 0));
}

void ClientSocket::SendPrompt() {
  if (state_ != LoginState::kLocating) return;
  state_ = LoginState::kAwaitingNetwork;
  Answer(ServerCode::kNetworkPrompt, kPromptText);
  Prompted();
  DeliveryMayStart();
}

void ClientSocket::Event_Error(int64_t code) { Depart(code, DepartureFor(code)); }

void ClientSocket::EndSession(int64_t code, DepartureReason reason) {
  CancelLookup();
  ReleasePendingName();
  // A log-in waiting for its record has its name already, though it is no member yet.
  const std::string& name = state_ == LoginState::kRecording && waiting_ ? waiting_->name
                                                                          : Username();
  Counters().CountDeparture(reason);
  modGlobal::LogMessage("Client Disconnect: (" + std::to_string(code) + ") " +
                            modGlobal::LogSafe(name),
                        false);
  // Only a member's departure is news: a connection that never logged in leaves silently.
  myParent.Leave(*this);
  seat_.Return();
}

void ClientSocket::Event_ReceivedMessage(int32_t command, std::string_view data) {
  Counters().CountMessage(command);
  ++messagesSent_;
  const Handler* handler = FindHandler(command);
  if (handler == nullptr) return;
  if (handler->administratorsOnly && !isAdmin()) return;
  (this->*handler->handle)(data);
}

void ClientSocket::LeaveNetwork() {
  myParent.Leave(*this);
  // No member any more: a stranger's input limits again, until it joins anew.
  SetInputLimits(kStrangerInput);
}

void ClientSocket::SelectNetwork(std::string_view name) {
  // A new selection starts the log-in over: the old network hears that this member left, and
  // the seat held so far goes back.
  if (IsMember()) LeaveNetwork();
  myUser = nullptr;
  seat_.Return();
  ServerNetworks* network = myParent.FindNetwork(name);
  NameNetwork(network);
  if (network != nullptr) seat_ = Seat::Take(*network);
  if (seat_) {
    state_ = LoginState::kAwaitingPassword;
    Answer(ServerCode::kNetworkResult, kOk);
  } else {
    state_ = LoginState::kAwaitingNetwork;
    Answer(ServerCode::kNetworkResult, kFail);
    Counters().CountLogin(LoginOutcome::kNetworkRefused);
    Log("Network Fail (" + modGlobal::LogSafe(name) + ")");
    if (network == nullptr)
      LogReason("network unknown");
    else if (!network->Enabled)
      LogReason("network disabled");
    else
      LogReason("network full (" + std::to_string(network->CurrentUsers) + " of " +
                std::to_string(network->MaxUsers) + " seats taken)");
  }
}

void ClientSocket::CheckPassword(std::string_view digest) {
  // Only a selection that took a seat can be followed by a password.
  bool seated = state_ != LoginState::kLocating && state_ != LoginState::kAwaitingNetwork;
  auto now = platform::EventLoop::Instance().Now();
  if (seated && context_.guesses.LockedOut(RemoteAddress(), now)) {
    // Past its allowance an address learns nothing until its window is up: not even a right
    // password is checked.
    state_ = LoginState::kAwaitingPassword;
    Answer(ServerCode::kPasswordResult, kFail);
    if (context_.guesses.FirstRefusal(RemoteAddress()))
      Log("Too Many Wrong Passwords From This Address, Locked Out For A Minute.");
    return;
  }
  bool accepted =
      seated && platform::ConstantTimeEquals(platform::Md5Digest(Network()->Password), digest);
  if (accepted) {
    if (state_ == LoginState::kAwaitingPassword) state_ = LoginState::kAwaitingUserName;
    Answer(ServerCode::kPasswordResult, kOk);
    return;
  }
  if (seated) {
    state_ = LoginState::kAwaitingPassword;
    context_.guesses.CountWrong(RemoteAddress(), now);
    if (++wrongPasswords_ >= kMaxWrongPasswords) {
      Log("Too Many Wrong Passwords.");
      Fail(kErrorTooManyWrongPasswords);
      return;
    }
  }
  Answer(ServerCode::kPasswordResult, kFail);
  Counters().CountLogin(LoginOutcome::kPasswordRefused);
  Log("Login Failed.");
  if (!seated)
    LogReason("no network accepted yet");
  else if (digest.size() != kDigestBytes)
    // A client that sends the digest as hexadecimal text is told apart from a wrong password.
    LogReason("wrong password (the digest is " + std::to_string(digest.size()) + " bytes, not " +
              std::to_string(kDigestBytes) + ")");
  else
    LogReason("wrong password");
}

void ClientSocket::LogIn(std::string_view name) {
  auto refuse = [&](const std::string& why, LoginOutcome outcome, std::string_view reason) {
    Answer(ServerCode::kUserNameResult, kFail);
    Counters().CountLogin(outcome);
    Log(why + " (" + modGlobal::LogSafe(name) + ")");
    LogReason(reason);
  };
  bool passwordAccepted =
      state_ == LoginState::kAwaitingUserName || state_ == LoginState::kLoggedIn;
  if (!passwordAccepted)
    return refuse("Bad Username", LoginOutcome::kNameRefused,
                  state_ == LoginState::kAwaitingPassword ? "password not accepted yet"
                                                          : "no network accepted yet");
  if (std::string_view fault = UserNameFault(name); !fault.empty())
    return refuse("Bad Username", LoginOutcome::kNameRefused,
                  "name invalid (the user name " + std::string(fault) + ")");
  ServerNetworks& network = *Network();
  auto record = FindUserRecord(name, RemoteAddress());
  if (auto ban = myParent.Context().bans.Refuses(network, record.get(), RemoteAddress()))
    return refuse("Banned", LoginOutcome::kBanned,
                  *ban == BanSource::kNetworkFile
                      ? "banned by the network file (this name at this address)"
                      : "banned by the ban table (this address on this network)");
  if (!CanLogin(name))
    return refuse("Bad Username", LoginOutcome::kNameRefused, "name in use");

  Counters().CountLogin(LoginOutcome::kAccepted);
  Log("User Logged In (" + modGlobal::LogSafe(name) + ")");
  // A member that takes another name leaves under the old one first, or the old name would
  // stay on every other map; it joins again under the new one with its "OK". Its seat stays.
  if (IsMember() && Username() != name) LeaveNetwork();
  // The connection joins its network with its "OK", once the record is on disk: until then
  // it hears nothing of the network, and its name is held for it.
  state_ = LoginState::kRecording;
  waiting_ = std::make_unique<Waiting>(Waiting{0, std::string(name), record, true});
  myParent.HoldName(waiting_->name);
  auto self = std::static_pointer_cast<ClientSocket>(Self());
  myParent.Context().registrar.Record(network, waiting_->name, RemoteAddress(),
                                      [self] { self->FinishLogIn(); });
}

void ClientSocket::FinishLogIn() {
  // A connection that is ending lets its name go on its way out (Event_Error).
  if (state_ != LoginState::kRecording || !IsConnected()) return;
  ReleasePendingName();
  state_ = LoginState::kLoggedIn;
  myParent.Join(*this, waiting_->name);
  SetInputLimits(kDefaultInputLimits);
  SetOutputLimit(kMaxUnsentBytes);
  myUser = std::move(waiting_->user);
  waiting_.reset();
  Answer(ServerCode::kUserNameResult, kOk);
  DeliveryMayStart();
}

void ClientSocket::ReleasePendingName() {
  if (!waiting_ || !waiting_->nameTaken) return;
  waiting_->nameTaken = false;
  myParent.ReleaseName(waiting_->name);
}

bool ClientSocket::CanLogin(std::string_view name) {
  return !myParent.NameTaken(name, *this);
}

std::shared_ptr<VelmoraUser> ClientSocket::FindUserRecord(std::string_view name,
                                                          std::string_view address) const {
  return Network() == nullptr ? nullptr : Network()->FindUser(name, address);
}

bool ClientSocket::isAdmin() const {
  if (Network() == nullptr || myUser == nullptr) return false;
  for (auto& admin : Network()->Admins)
    if (admin == myUser) return true;
  return false;
}

void ClientSocket::ReportPosition(std::string_view data) {
  // The report is stored whatever it says; only one with no negative number goes on.
  StorePosition(ReadPositionReport(data));
  if (IsMember() && Position().Relayable()) myParent.BroadcastPosition(*this);
}

void ClientSocket::ListMembers(std::string_view) {
  if (!IsMember()) return;
  for (MapConnection* member : myParent.Members(Network()))
    if (member != this)
      Answer(ServerCode::kMemberPosition,
             MemberPositionText(member->Username(), member->Position()));
}

void ClientSocket::Chat(std::string_view text) {
  if (IsMember()) myParent.SendChatMessage(Network(), *this, text);
}

void ClientSocket::AnswerAdminQuery(std::string_view) {
  Answer(ServerCode::kAdminAnswer, isAdmin() ? "1" : "0");
}

void ClientSocket::SayGoodbye(std::string_view) {
  Answer(ServerCode::kGoodbyeAnswer, kGoodbyeText);
}

}  // namespace velmora
