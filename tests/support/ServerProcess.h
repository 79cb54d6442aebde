#pragma once
// Runs the real server binary in a folder of its own, the way an operator would install it:
// the executable with velmora.conf and velmora-server/ beside it, and its log in a private
// application-data folder. End-to-end tests drive it over loopback TCP.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/FileText.h"
#include "support/FreePort.h"
#include "support/ScratchFolder.h"

namespace velmora::e2e {

using namespace std::chrono_literals;

// Start appends this line to the log before it starts the binary, whose new log must not have it.
inline constexpr const char* kStaleLogLine = "[stale] a line of an earlier run";

using testing::FreePort;
using testing::ReadFile;

// One "User" element of a network file; empty fields are left out of the element.
struct UserEntry {
  std::string name;
  std::string lastIp = {};
  std::string isAdmin = {};
  std::string isBanned = {};
};

// The fields of a network element; every value is written as given, so a test can write
// "true" or "2.9" where a number belongs.
struct NetworkEntry {
  std::string name;
  std::string password = {};
  uint16_t port = 0;
  std::string maxusers = "50";
  std::string enabled = "1";
  std::vector<UserEntry> users = {};
};

// The text of a network file for `network`.
std::string NetworkXml(const NetworkEntry& network);

// The text of a velmora.conf holding the given entries in order.
std::string SettingsXml(const std::vector<std::pair<std::string, std::string>>& entries);

// Settings that make every listener listen on all local addresses, loopback included.
std::string AllAddressesSettings();

class ServerProcess {
 public:
  // Prepares a fresh folder with the binary; nothing runs yet.
  ServerProcess();
  // Stops the server if it still runs and removes the folder.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Writes velmora-server/<fileName>.
  void WriteNetworkFile(const std::string& fileName, const std::string& content);
  void WriteNetwork(const NetworkEntry& network);
  // Writes velmora.conf beside the binary.
  void WriteSettings(const std::string& content);
  // An environment variable for the next Start, replacing the test's own value. The test's
  // NOTIFY_SOCKET is never passed on: the server would report to whoever started the test.
  void SetEnvironment(const std::string& name, const std::string& value);
  // Makes the next Start write its log where `other` writes its own, as two servers that one
  // user runs from two folders do. Start then waits for one more "Listening..." in that log.
  void ShareLogOf(const ServerProcess& other) { dataFolder_ = other.dataFolder_; }

  // Starts the binary and waits until the log shows "Listening..."; false when it does not
  // within the time limit (the process is then left running for Stop to collect), or when it
  // ends first (its exit code is then ExitCode()).
  bool Start(std::chrono::milliseconds limit = 10s);
  // The exit code of a server that ended during Start.
  std::optional<int> ExitCode() const { return exitCode_; }

  // What one run of the binary did that was not the server Start runs.
  struct Run {
    int exitCode;  // as Stop gives it; -1 when it had to be killed after the time limit
    std::string output;  // standard output and error
  };
  // Runs the binary in the same folder and environment as Start with `args`, to its end.
  Run RunToEnd(const std::vector<std::string>& args, std::chrono::milliseconds limit = 10s);
  // SIGTERM, then waits; returns the exit code, 128 + signal when a signal ended it, or -1
  // when it had to be killed after the time limit.
  int Stop(std::chrono::milliseconds limit = 10s);
  void Signal(int signal) const;
  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Every line of com.velmora.log as written.
  std::vector<std::string> LogLines() const;
  // The messages of the log: each line without its "[date time] " stamp.
  std::vector<std::string> LogMessages() const;
  // The messages after the last "Listening..." line: what the running server did since start.
  std::vector<std::string> MessagesSinceListening() const;
  // Waits until the log holds `message` at least `count` times.
  bool WaitForLog(const std::string& message, std::chrono::milliseconds limit = 3s,
                  size_t count = 1) const;
  size_t CountLog(const std::string& message) const;

  // What the process wrote on its standard output and error (sanitizer reports land there).
  std::string Output() const;

  const std::string& Folder() const { return folder_; }  // the binary's folder
  std::string NetworksFolder() const;
  std::string SettingsPath() const;
  std::string DatabasePath() const;
  std::string LogPath() const;
  // Where a new log keeps the one before it.
  std::string PreviousLogPath() const;

 private:
  testing::ScratchFolder scratch_{"velmora-e2e"};
  std::string root_ = scratch_.Path();
  std::string folder_;  // the binary's: root_ itself, with settings, networks, database
  std::string dataFolder_ = root_ + "/data";  // where the log lies
  std::string binary_;
  // Forks and executes the binary with `args`, its output going to `outputPath`.
  pid_t Spawn(const std::vector<std::string>& args, const std::string& outputPath) const;
  // Waits for `pid` to end; kills it after `limit`. The code as Stop gives it.
  static int Collect(pid_t pid, std::chrono::milliseconds limit);

  std::vector<std::pair<std::string, std::string>> environment_;
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
  int runs_ = 0;
};

}  // namespace velmora::e2e
