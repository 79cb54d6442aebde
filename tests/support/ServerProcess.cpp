#include "support/ServerProcess.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velmora::e2e {

namespace fs = std::filesystem;

namespace {

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

// A hard link is enough for /proc/self/exe to name the new folder, and costs nothing; a copy
// serves where linking is not possible (another file system).
void PlaceBinary(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::create_hard_link(from, to, error);
  if (!error) return;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all, fs::perm_options::add);
}

}  // namespace

std::string NetworkXml(const NetworkEntry& network) {
  // The network element must follow the root's start tag directly, without white space.
  std::string xml = "<?xml version=\"1.0\"?>\n<velmora><network name=\"" + XmlEscape(network.name) +
                    "\" password=\"" + XmlEscape(network.password) + "\" maxusers=\"" +
                    XmlEscape(network.maxusers) + "\" enabled=\"" + XmlEscape(network.enabled) +
                    "\" port=\"" + std::to_string(network.port) + "\">\n";
  for (const auto& user : network.users) {
    xml += "    <User Name=\"" + XmlEscape(user.name) + "\"";
    if (!user.lastIp.empty()) xml += " LastIP=\"" + XmlEscape(user.lastIp) + "\"";
    if (!user.isAdmin.empty()) xml += " IsAdmin=\"" + XmlEscape(user.isAdmin) + "\"";
    if (!user.isBanned.empty()) xml += " IsBanned=\"" + XmlEscape(user.isBanned) + "\"";
    xml += " />\n";
  }
  xml += "</network></velmora>\n";
  return xml;
}

std::string SettingsXml(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string xml = "<?xml version=\"1.0\"?>\n<settings>\n";
  for (const auto& [name, value] : entries)
    xml += "  <setting namestring=\"" + XmlEscape(name) + "\" valuestring=\"" + XmlEscape(value) +
           "\" />\n";
  xml += "</settings>\n";
  return xml;
}

std::string AllAddressesSettings() {
  // An empty AttachedNIC matches no interface, and a listener given none listens everywhere.
  return SettingsXml({{"Port", "12000"}, {"AttachedNIC", ""}});
}

namespace {

// The exit code, or 128 + the signal that ended the process.
int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ServerProcess::ServerProcess() {
  folder_ = root_;
  binary_ = folder_ + "/velmora";
  PlaceBinary(VELMORA_BINARY, binary_);
  fs::create_directories(NetworksFolder());
  fs::create_directories(root_ + "/data");
}

ServerProcess::~ServerProcess() {
  if (Running()) Stop();
}

std::string ServerProcess::NetworksFolder() const { return folder_ + "/velmora-server"; }
std::string ServerProcess::SettingsPath() const { return folder_ + "/velmora.conf"; }
std::string ServerProcess::DatabasePath() const { return folder_ + "/velmora.db"; }
std::string ServerProcess::LogPath() const { return dataFolder_ + "/com.velmora.log"; }
std::string ServerProcess::PreviousLogPath() const { return LogPath() + ".1"; }

void ServerProcess::WriteNetworkFile(const std::string& fileName, const std::string& content) {
  testing::WriteFile(NetworksFolder() + "/" + fileName, content);
}

void ServerProcess::WriteNetwork(const NetworkEntry& network) {
  std::string fileName;
  for (char c : network.name) fileName += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  WriteNetworkFile(fileName + std::to_string(network.port) + ".conf", NetworkXml(network));
}

void ServerProcess::WriteSettings(const std::string& content) {
  testing::WriteFile(SettingsPath(), content);
}

void ServerProcess::SetEnvironment(const std::string& name, const std::string& value) {
  environment_.emplace_back(name, value);
}

pid_t ServerProcess::Spawn(const std::vector<std::string>& args,
                           const std::string& outputPath) const {
  auto variables = environment_;
  variables.emplace_back("XDG_DATA_HOME", dataFolder_);
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    bool replaced = text.substr(0, sizeof("NOTIFY_SOCKET=") - 1) == "NOTIFY_SOCKET=";
    for (const auto& [name, value] : variables)
      replaced |= text.substr(0, name.size() + 1) == name + "=";
    if (!replaced) environment.emplace_back(text);
  }
  for (const auto& [name, value] : variables) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::string binary = binary_;
  std::vector<std::string> arguments = args;
  std::vector<char*> argv = {binary.data()};
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec. A test process that dies without its
    // clean-up must not leave a server holding ports for the runs after it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
        ::dup2(out, STDERR_FILENO) < 0 || ::chdir(root_.c_str()) != 0)
      ::_exit(127);
    // The test's own sockets and files stay with the test.
    ::close_range(3, ~0U, 0);
    ::execve(binary.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

bool ServerProcess::Start(std::chrono::milliseconds limit) {
  if (Running()) throw std::logic_error("server already running");
  bool ownLog = dataFolder_ == root_ + "/data";
  // A line no run of the server writes: the previous run's log would satisfy the wait below at
  // once. Appended, so that the new run keeps that log as the previous one, marked at its end.
  // A log shared with a running server is left alone: this one appends to it.
  if (ownLog) std::ofstream(LogPath(), std::ios::binary | std::ios::app) << kStaleLogLine << "\n";
  size_t listeningBefore = ownLog ? 0 : CountLog("Listening...");
  exitCode_.reset();
  pid_ = Spawn({}, root_ + "/server.out");
  auto deadline = std::chrono::steady_clock::now() + limit;
  auto started = [&] {
    auto lines = LogLines();
    return std::find(lines.begin(), lines.end(), kStaleLogLine) == lines.end() &&
           CountLog("Listening...") > listeningBefore;
  };
  while (!started()) {
    int status = 0;
    // A server that dies during start-up must not hold the test for the whole limit.
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exitCode_ = DecodeStatus(status);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

ServerProcess::Run ServerProcess::RunToEnd(const std::vector<std::string>& args,
                                           std::chrono::milliseconds limit) {
  std::string output = root_ + "/run-" + std::to_string(++runs_) + ".out";
  int code = Collect(Spawn(args, output), limit);
  return {code, ReadFile(output)};
}

int ServerProcess::Stop(std::chrono::milliseconds limit) {
  if (!Running()) return -1;
  ::kill(pid_, SIGTERM);
  int code = Collect(pid_, limit);
  pid_ = -1;
  return code;
}

int ServerProcess::Collect(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(2ms);
  }
  return DecodeStatus(status);
}

void ServerProcess::Signal(int signal) const {
  if (Running()) ::kill(pid_, signal);
}

std::vector<std::string> ServerProcess::LogLines() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(LogPath()));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> ServerProcess::LogMessages() const {
  std::vector<std::string> messages;
  for (const auto& line : LogLines()) {
    // The stamp is "[date time] "; client text may hold "] " as well, but only after it.
    size_t end = line.find("] ");
    messages.push_back(line.rfind('[', 0) == 0 && end != std::string::npos ? line.substr(end + 2)
                                                                           : line);
  }
  return messages;
}

std::vector<std::string> ServerProcess::MessagesSinceListening() const {
  auto messages = LogMessages();
  for (size_t i = messages.size(); i-- > 0;)
    if (messages[i] == "Listening...")
      return std::vector<std::string>(messages.begin() + static_cast<long>(i) + 1, messages.end());
  return {};
}

size_t ServerProcess::CountLog(const std::string& message) const {
  size_t count = 0;
  for (const auto& line : LogMessages()) count += line == message;
  return count;
}

bool ServerProcess::WaitForLog(const std::string& message, std::chrono::milliseconds limit,
                               size_t count) const {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    if (CountLog(message) >= count) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

std::string ServerProcess::Output() const { return ReadFile(root_ + "/server.out"); }

}  // namespace velmora::e2e
