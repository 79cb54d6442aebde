#include "host/App.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>

#include "base/Log.h"
#include "base/NumberText.h"
#include "client/ClientSocket.h"
#include "client/PasswordGuesses.h"
#include "geo/GeoLookup.h"
#include "host/AppSettings.h"
#include "host/EchoingLog.h"
#include "host/ConsoleService.h"
#include "host/console/ConsoleError.h"
#include "host/console/StatusAddress.h"
#include "host/NICByMac.h"
#include "host/StartUpLog.h"
#include "networks/NetworkFiles.h"
#include "networks/NetworkReload.h"
#include "networks/Registrar.h"
#include "networks/ServerNetworks.h"
#include "platform/adapters/Clock.h"
#include "platform/net/EventLoop.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/InstanceLock.h"
#include "platform/adapters/LogFile.h"
#include "platform/adapters/Md5.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/adapters/Process.h"
#include "platform/adapters/ServiceNotify.h"
#include "platform/adapters/SqliteDatabase.h"
#include "platform/adapters/StandardStreams.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"
#include "server/PendingLogins.h"

namespace velmora {

namespace {
App* g_app = nullptr;
// How long one pass of the main loop may wait when nothing is pending.
constexpr int kMainLoopWaitMs = 10;
// How often memory left over after busy times is handed back to the system.
constexpr std::chrono::seconds kGiveBackMemoryEvery{30};
constexpr size_t kMaxConnectionsPerListener = 100000;
// How often the service manager's status line is brought up to date: often enough for an
// operator's glance, rare enough to cost nothing.
constexpr std::chrono::seconds kStatusInterval{2};

std::string Counted(size_t count, const std::string& what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// Reports a second that each member's positions are relayed at most; 0: no ceiling.
constexpr const char* kMaxPositionsSetting = "MaxPositionsPerSecond";
// The console's token; read again at every reload.
constexpr const char* kStatusTokenSetting = "StatusToken";

// A test aid, never set in service: a shorter log-in deadline in milliseconds, so that the test
// of the deadline need not wait a minute. Values that would lengthen it are ignored.
constexpr const char* kTestLoginDeadlineVariable = "VELMORA_TEST_LOGIN_DEADLINE_MS";

std::chrono::milliseconds LoginDeadline() {
  std::chrono::milliseconds deadline = PendingLogins::kLoginDeadline;
  if (auto text = platform::EnvironmentValue(kTestLoginDeadlineVariable)) {
    int64_t shorter = ReadInteger(*text);
    if (shorter > 0 && shorter < deadline.count()) deadline = std::chrono::milliseconds(shorter);
  }
  return deadline;
}
}  // namespace

App* App::Create() {
  if (g_app == nullptr) {
    g_app = new App();
    g_app->Constructor();
  }
  return g_app;
}

void App::Destroy() {
  delete g_app;
  g_app = nullptr;
}

App::App()
    : log_(std::make_unique<platform::LogFile>()),
      startUpLog_(std::make_unique<StartUpLog>(*log_)),
      echo_(std::make_unique<EchoingLog>(*startUpLog_, platform::WriteStandardError)) {
  previousLog_ = InstallLogSink(echo_.get());
}

App::~App() {
  StopConsole();
  // Listeners and their connections go before what they were handed; then the registrar, whose
  // log-ins still waiting hold their connections, while the sessions' context is still there.
  sSockets.clear();
  registrar_.reset();
  InstallLogSink(previousLog_);
}

bool App::Event_DontDaemonize() { return true; }

void App::Event_Pause() { modGlobal::LogMessage("Life waits for no man.", false); }

void App::Event_Resume() { modGlobal::LogMessage("CHARGE!", false); }

void App::Event_Stop(bool) { blnStop = true; }

void App::Constructor() {}

int App::Event_Run(const std::vector<std::string>&) {
  startedAt_ = std::time(nullptr);
  platform::UseHostLocale();
  // Before the log: a second server must leave the running one's log alone.
  if (!TakeInstanceLock()) return 1;
  InstallSignalHandlers();
  echo_->SetStartingUp(true);
  modGlobal::LogMessage("Loading Settings...", true);
  bool serving = StartUp();
  // Only a server that serves begins a new log; one that gives up leaves the log as it was.
  startUpLog_->Finish(serving);
  echo_->SetStartingUp(false);
  if (!serving) return 1;
  reportedStatus_ = StatusText();
  platform::NotifyServiceManager("READY=1\nSTATUS=" + reportedStatus_);
  ScheduleStatusReports();
  RunMainLoop();
  platform::NotifyServiceManager("STOPPING=1");
  StopConsole();
  modGlobal::LogMessage("Received quit signal.  Exiting.", false);
  return 0;
}

bool App::TakeInstanceLock() {
  auto folder = platform::ExecutableFolder();
  if (!folder) return true;  // nowhere to keep a lock, and nowhere to keep settings either
  std::string path = platform::JoinPath(*folder, kLockFileName);
  instanceLock_ = std::make_unique<platform::InstanceLock>(path);
  switch (instanceLock_->Result()) {
    case platform::InstanceLock::Outcome::kTaken:
      return true;
    case platform::InstanceLock::Outcome::kHeldElsewhere:
      echo_->Say("velmora: a server is already running in " + *folder + " (it holds " + path +
                 "); this one does not start.");
      return false;
    case platform::InstanceLock::Outcome::kUnavailable:
      break;
  }
  // A folder where no lock file can be made (read-only, say) served before there were locks.
  echo_->Say("velmora: cannot lock " + path + " (" + instanceLock_->Problem() +
             "); starting without the guard against a second server in this folder.");
  return true;
}

void App::RunMainLoop() {
  auto& loop = platform::EventLoop::Instance();
  while (!blnStop) loop.RunOnce(kMainLoopWaitMs);
}

void App::InstallSignalHandlers() {
  auto& loop = platform::EventLoop::Instance();
  // A peer that vanishes mid-write must not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  loop.OnSignal(SIGINT, [this] { Event_Stop(false); });
  loop.OnSignal(SIGTERM, [this] { Event_Stop(false); });
  loop.OnSignal(SIGTSTP, [this] { Event_Pause(); });
  loop.OnSignal(SIGCONT, [this] { Event_Resume(); });
  loop.OnSignal(SIGHUP, [this] { ReloadNetworks(); });
}

bool App::StartUp() {
  platform::RaiseOpenFileLimit();
  platform::KeepFreedMemoryForReuse();
  // The digest routine is loaded now rather than at the first log-in, so that the first client
  // does not wait for it.
  platform::Md5Digest("");
  GiveBackMemoryNowAndThen();
  mySettings = std::make_unique<AppSettings>();
  mySettings->Load();
  modGlobal::LogMessage("Initializing Server Socket...", false);
  modGlobal::LogMessage("Loading Networks...", false);
  modGlobal::LoadNetworks(NetworksFolder(), Networks);
  OpenServerDatabase();

  bans_ = std::make_unique<BanStore>(serverdb.get());
  registrar_ = std::make_unique<Registrar>(counters_);
  geo_ = std::make_unique<GeoLookup>(counters_);
  pending_ = std::make_unique<PendingLogins>(LoginDeadline());
  guesses_ = std::make_unique<PasswordGuesses>();
  ApplyPositionCeiling();
  serverContext_.emplace(
      ServerContext{Networks, *bans_, *registrar_, *pending_, counters_, ceiling_});
  clientContext_.emplace(ClientContext{*geo_, *guesses_});

  for (auto& network : Networks) OpenListener(*network);
  bool listening = false;
  for (auto& listener : sSockets) listening = listening || listener->BoundPort() != 0;
  if (!Networks.empty() && !listening) {
    // Going on would be a server that says it listens while nothing can reach it.
    modGlobal::LogMessage("Error: not one listener could be opened; exiting.", false);
    return false;
  }
  modGlobal::LogMessage("Listening...", false);
  mySettings->Save();
  StartConsole();
  return true;
}

std::optional<std::string> App::NetworksFolder() const {
  auto executableFolder = platform::ExecutableFolder();
  if (!executableFolder) return std::nullopt;
  return platform::JoinPath(*executableFolder, kNetworksFolderName);
}

void App::OpenListener(const ServerNetworks& network) {
  auto listener = MakeListener();
  auto interfaces = platform::ListNetworkInterfaces();
  // With no interface at all the default matches nothing: listen everywhere.
  std::string firstMac = interfaces.empty() ? std::string() : interfaces.front().MacAddress;
  std::string attached = mySettings->GetValue("AttachedNIC", firstMac);
  auto nic = modGlobal::NICByMac(attached);
  // Empty text is the documented way to listen everywhere; anything else was meant to match.
  if (!nic && !attached.empty() && !saidNoInterface_) {
    saidNoInterface_ = true;
    echo_->Say("AttachedNIC \"" + attached +
               "\" matches no network interface: listening on all addresses.");
  }
  listener->SetNetworkInterface(nic);
  listener->SetErrorLabel("port " + std::to_string(network.Port) + ", network " +
                          network.NetworkName);
  listener->SetPort(network.Port);
  listener->SetMaxConnections(kMaxConnectionsPerListener);
  listener->Listen();
  sSockets.push_back(std::move(listener));
}

void App::ReloadNetworks() {
  platform::NotifyServiceManager("RELOADING=1");
  modGlobal::LogMessage("Reloading Networks...", false);
  // The file read once for what a reload takes from it; the rest keeps its start.
  bool reread = mySettings->Reread({kMaxPositionsSetting, kStatusTokenSetting});
  ApplyPositionCeiling();
  auto added = modGlobal::ReloadNetworks(NetworksFolder(), Networks);
  bool opened = false;
  for (ServerNetworks* network : added) {
    // Every listener serves every network: a port that has one needs no second.
    bool served = false;
    for (auto& listener : sSockets) served = served || listener->Port() == network->Port;
    if (served) continue;
    OpenListener(*network);
    opened = true;
  }
  // The first listener of a run that started without networks has just chosen AttachedNIC.
  if (opened) mySettings->Save();
  ApplyConsoleToken(reread);
  modGlobal::LogMessage("Networks reloaded.", false);
  reportedStatus_ = StatusText();
  platform::NotifyServiceManager("READY=1\nSTATUS=" + reportedStatus_);
}

void App::ApplyPositionCeiling() {
  // Read without storing a default: the file stays as the operator wrote it.
  auto text = mySettings->Find(kMaxPositionsSetting);
  uint32_t perSecond = PositionCeiling::kDefaultPerSecond;
  if (text && !text->empty()) {
    int64_t value = ReadInteger(*text);
    if (BeginsWithNumber(*text) && value >= 0) {
      perSecond = static_cast<uint32_t>(
          std::min<int64_t>(value, PositionCeiling::kMaxPerSecond));
    } else {
      // A slip of the pen must not lift the ceiling.
      modGlobal::LogMessage(std::string(kMaxPositionsSetting) + " \"" +
                                modGlobal::LogSafe(*text) + "\" is not a number of 0 or more: " +
                                std::to_string(perSecond) + " a second.",
                            false);
    }
  }
  ceiling_.SetPerSecond(perSecond);
}

std::string App::StatusText() const {
  size_t members = 0;
  size_t networks = 0;
  for (auto& network : Networks) {
    if (!network->Retired) ++networks;
    for (auto& listener : sSockets) members += listener->Members(network.get()).size();
  }
  return Counted(members, "member") + " logged in, " + Counted(networks, "network");
}

void App::ScheduleStatusReports() {
  if (!platform::ServiceManagerListens()) return;
  statusReports_ = platform::EventLoop::Instance().After(kStatusInterval, [this] {
    std::string status = StatusText();
    if (status != reportedStatus_) {
      reportedStatus_ = status;
      platform::NotifyServiceManager("STATUS=" + status);
    }
    ScheduleStatusReports();
  });
}

void App::StartConsole() {
  // Both settings are off unless given: reading them must not write empty entries to the file.
  std::string address = statusAddress_ ? *statusAddress_
                                       : mySettings->Find("StatusAddress").value_or("");
  if (address.empty()) return;
  auto console =
      std::make_unique<ConsoleService>(Networks, sSockets, *bans_, counters_, startedAt_);
  try {
    console->Start(address, mySettings->Find(kStatusTokenSetting).value_or(""));
  } catch (const console::ConsoleError& error) {
    // The members are served all the same; the operator reads why the console is not there.
    std::string line = std::string("Error starting the console: ") + error.what();
    modGlobal::LogMessage(line, false);  // said on standard error too, as every error line
    return;
  }
  console_ = std::move(console);
  // The port it really got: "host:0" asks for any free one.
  std::string host = console::StatusAddress::Parse(address).Host;
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  modGlobal::LogMessage(
      "Console listening on http://" + host + ":" + std::to_string(console_->Port()) + "/", false);
}

void App::ApplyConsoleToken(bool reread) {
  if (!console_) return;
  // A file being edited may be unreadable for a moment: that is no reason to drop the token.
  if (!reread) {
    modGlobal::LogMessage("The console keeps its token: velmora.conf could not be read", false);
    return;
  }
  try {
    console_->ChangeToken(mySettings->Find(kStatusTokenSetting).value_or(""));
  } catch (const console::ConsoleError& error) {
    modGlobal::LogMessage(std::string("The console keeps its token: ") + error.what(), false);
  }
}

void App::StopConsole() {
  if (!console_) return;
  console_->Stop();
  console_.reset();
}

void App::GiveBackMemoryNowAndThen() {
  memoryGiveBack_ = platform::EventLoop::Instance().After(kGiveBackMemoryEvery, [this] {
    platform::GiveBackFreeMemory();
    GiveBackMemoryNowAndThen();
  });
}

std::unique_ptr<MapSocket> App::MakeListener() {
  ClientContext& clientContext = *clientContext_;
  return std::make_unique<MapSocket>(*serverContext_, [&clientContext](MapSocket& parent) {
    return std::make_shared<ClientSocket>(parent, clientContext);
  });
}

void App::OpenServerDatabase() {
  auto folder = platform::ExecutableFolder();
  if (!folder) return;
  std::string path = platform::JoinPath(*folder, "velmora.db");
  std::unique_ptr<platform::SqliteDatabase> db;
  try {
    db = std::make_unique<platform::SqliteDatabase>(path);
    BanStore::Prepare(*db);
  } catch (const platform::DatabaseError& error) {
    // The server runs on without bans; say so once. A lock held by another program is gone
    // sooner or later, and the file behind it is sound: keep the connection, so that bans work
    // again once the lock goes, and each request that meets the lock logs its own failure.
    modGlobal::LogMessage(std::string("Error opening server database: ") + error.what(), false);
    if (!error.Locked()) return;
  }
  serverdb = std::move(db);
}

}  // namespace velmora
