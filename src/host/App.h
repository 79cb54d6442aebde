#pragma once
// The application object: the root of the server, one per process. It owns everything that
// lives for the whole run (settings, networks, the server database, the listeners) and hands
// each room what it needs when it builds it; nothing below reaches back up to it.
#include <atomic>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/ClientContext.h"
#include "platform/net/Timer.h"
#include "protocol/ServerCounters.h"
#include "server/PositionCeiling.h"
#include "server/ServerContext.h"

namespace velmora {

class AppSettings;
class BanStore;
class EchoingLog;
class StartUpLog;
class ConsoleService;
class GeoLookup;
class LogSink;
class MapSocket;
class PasswordGuesses;
class PendingLogins;
class Registrar;
class ServerNetworks;
namespace platform {
class InstanceLock;
class LogFile;
class SqliteDatabase;
}  // namespace platform

class App {
 public:
  // The single application object, made by the process entry.
  static App* Create();
  static void Destroy();

  App();
  ~App();

  bool Event_DontDaemonize();
  void Event_Pause();
  void Event_Resume();
  int Event_Run(const std::vector<std::string>& args);
  void Event_Stop(bool flag);
  void Constructor();

  // Runs the main loop until a stop request; used by Event_Run and by tests.
  void RunMainLoop();
  // Reads the network files again without dropping anyone (SIGHUP): new networks are served,
  // changed ones updated in place, those without a file any more take nobody new.
  void ReloadNetworks();

  // The lock file beside the executable that keeps a second server out of the folder.
  static constexpr const char* kLockFileName = "velmora.lock";
  // Where the operator's console listens ("host:port"), replacing the setting StatusAddress;
  // for the command line's --status. Call before Event_Run.
  void OverrideStatusAddress(std::string address) { statusAddress_ = std::move(address); }

  std::atomic<bool> blnStop{false};
  std::unique_ptr<AppSettings> mySettings;
  std::vector<std::shared_ptr<ServerNetworks>> Networks;
  std::unique_ptr<platform::SqliteDatabase> serverdb;
  std::vector<std::unique_ptr<MapSocket>> sSockets;

 private:
  // False when this folder's server is running already.
  bool TakeInstanceLock();
  // False when there are networks but not one of their listeners could listen.
  bool StartUp();
  void OpenServerDatabase();
  void InstallSignalHandlers();
  std::optional<std::string> NetworksFolder() const;
  // Creates the listener for `network`'s port and starts it listening.
  void OpenListener(const ServerNetworks& network);
  std::unique_ptr<MapSocket> MakeListener();
  // Starts the console when the settings or the command line name an address for it.
  void StartConsole();
  // Gives the console the StatusToken a reload read (`reread`: the file could be read); a
  // changed token ends every console session.
  void ApplyConsoleToken(bool reread);
  void StopConsole();
  void GiveBackMemoryNowAndThen();
  // For the service manager: how many members are logged in where.
  std::string StatusText() const;
  // Tells the service manager the status now and then, when one listens and it has changed.
  void ScheduleStatusReports();
  // Sets the position ceiling from the settings: at start, and again at every reload.
  void ApplyPositionCeiling();

  std::unique_ptr<platform::LogFile> log_;
  std::unique_ptr<StartUpLog> startUpLog_;
  std::unique_ptr<EchoingLog> echo_;
  LogSink* previousLog_ = nullptr;
  std::unique_ptr<platform::InstanceLock> instanceLock_;
  bool saidNoInterface_ = false;
  std::string reportedStatus_;
  platform::Timer statusReports_;
  platform::Timer memoryGiveBack_;
  ServerCounters counters_;
  PositionCeiling ceiling_{PositionCeiling::kDefaultPerSecond};
  std::time_t startedAt_ = 0;  // when Event_Run began: the metrics' start time
  std::unique_ptr<BanStore> bans_;
  std::unique_ptr<Registrar> registrar_;
  std::unique_ptr<GeoLookup> geo_;
  std::unique_ptr<PendingLogins> pending_;
  std::unique_ptr<PasswordGuesses> guesses_;
  std::optional<ServerContext> serverContext_;
  std::optional<ClientContext> clientContext_;
  std::optional<std::string> statusAddress_;
  std::unique_ptr<ConsoleService> console_;
};

}  // namespace velmora
