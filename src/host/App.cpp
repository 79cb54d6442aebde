#include "host/App.h"

#include <csignal>

#include "base/Log.h"
#include "client/ClientSocket.h"
#include "geo/GeoLookup.h"
#include "host/AppSettings.h"
#include "host/ConsoleService.h"
#include "host/console/ConsoleError.h"
#include "host/console/StatusAddress.h"
#include "host/NICByMac.h"
#include "networks/NetworkFiles.h"
#include "networks/Registrar.h"
#include "networks/ServerNetworks.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/FileSystem.h"
#include "platform/LogFile.h"
#include "platform/NetworkInterfaces.h"
#include "platform/Process.h"
#include "platform/SqliteDatabase.h"
#include "platform/StandardStreams.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"

namespace velmora {

namespace {
App* g_app = nullptr;
// How long one pass of the main loop may wait when nothing is pending.
constexpr int kMainLoopWaitMs = 10;
// How often memory left over after busy times is handed back to the system.
constexpr std::chrono::seconds kGiveBackMemoryEvery{30};
constexpr size_t kMaxConnectionsPerListener = 100000;
}  // namespace

App& App::Instance() { return *g_app; }

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

App::App() : log_(std::make_unique<platform::LogFile>()) { previousLog_ = InstallLogSink(log_.get()); }

App::~App() {
  // The console reads the listeners; then listeners and their connections go before what they
  // were handed.
  StopConsole();
  sSockets.clear();
  InstallLogSink(previousLog_);
}

bool App::Event_DontDaemonize() { return true; }

void App::Event_Pause() { modGlobal::LogMessage("Life waits for no man.", false); }

void App::Event_Resume() { modGlobal::LogMessage("CHARGE!", false); }

void App::Event_Stop(bool) { blnStop = true; }

void App::Constructor() {}

int App::Event_Run(const std::vector<std::string>&) {
  platform::UseHostLocale();
  InstallSignalHandlers();
  modGlobal::LogMessage("Loading Settings...", true);
  StartUp();
  RunMainLoop();
  StopConsole();
  modGlobal::LogMessage("Received quit signal.  Exiting.", false);
  return 0;
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
}

void App::StartUp() {
  platform::RaiseOpenFileLimit();
  platform::KeepFreedMemoryForReuse();
  GiveBackMemoryNowAndThen();
  mySettings = std::make_unique<AppSettings>();
  mySettings->Load();
  modGlobal::LogMessage("Initializing Server Socket...", false);
  modGlobal::LogMessage("Loading Networks...", false);
  auto executableFolder = platform::ExecutableFolder();
  std::optional<std::string> networksFolder;
  if (executableFolder)
    networksFolder = platform::JoinPath(*executableFolder, kNetworksFolderName);
  modGlobal::LoadNetworks(networksFolder, Networks);
  OpenServerDatabase();

  bans_ = std::make_unique<BanStore>(serverdb.get());
  registrar_ = std::make_unique<Registrar>(counters_);
  geo_ = std::make_unique<GeoLookup>(counters_);
  serverContext_.emplace(ServerContext{Networks, *bans_, *registrar_, counters_});
  clientContext_.emplace(ClientContext{*geo_});

  for (auto& network : Networks) {
    auto listener = MakeListener();
    auto interfaces = platform::ListNetworkInterfaces();
    // With no interface at all the default matches nothing: listen everywhere.
    std::string firstMac = interfaces.empty() ? std::string() : interfaces.front().MacAddress;
    std::string attached = mySettings->GetValue("AttachedNIC", firstMac);
    listener->SetNetworkInterface(modGlobal::NICByMac(attached));
    listener->SetPort(network->Port);
    listener->SetMaxConnections(kMaxConnectionsPerListener);
    listener->Listen();
    sSockets.push_back(std::move(listener));
  }
  modGlobal::LogMessage("Listening...", false);
  mySettings->Save();
  StartConsole();
}

void App::StartConsole() {
  // Both settings are off unless given: reading them must not write empty entries to the file.
  std::string address = statusAddress_ ? *statusAddress_
                                       : mySettings->Find("StatusAddress").value_or("");
  if (address.empty()) return;
  auto console = std::make_unique<ConsoleService>(Networks, sSockets, *bans_, counters_);
  try {
    console->Start(address, mySettings->Find("StatusToken").value_or(""));
  } catch (const console::ConsoleError& error) {
    // The members are served all the same; the operator reads why the console is not there.
    std::string line = std::string("Error starting the console: ") + error.what();
    modGlobal::LogMessage(line, false);
    platform::WriteStandardError("velmora: " + line + "\n");
    return;
  }
  console_ = std::move(console);
  // The port it really got: "host:0" asks for any free one.
  std::string host = console::StatusAddress::Parse(address).Host;
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  modGlobal::LogMessage(
      "Console listening on http://" + host + ":" + std::to_string(console_->Port()) + "/", false);
}

void App::StopConsole() {
  if (!console_) return;
  console_->Stop();
  console_.reset();
}

void App::GiveBackMemoryNowAndThen() {
  platform::EventLoop::Instance().After(kGiveBackMemoryEvery, [this] {
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
