#pragma once
// The real server binary in a folder of its own, and velmora-admin run against it as an operator
// would run it: separate processes, loopback only, every wait bounded.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/FileText.h"
#include "support/ServerProcess.h"
#include "support/ServerTest.h"
#include "support/WireClient.h"

extern char** environ;

namespace velmora::admintest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using e2e::FreePort;
using testing::ReadFile;
using testing::WriteFile;

// Whether this machine reaches its own ::1: the tests log in from there to have a second
// address, since every IPv4 loopback connection comes from 127.0.0.1.
inline bool HasIpv6Loopback() {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

struct ToolResult {
  int status = -1;  // the exit status; -1 when it had to be killed or died by a signal
  std::string out;
  std::string err;
};

// A child process with its standard input from a file and its output into files.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
        const std::string& folder, const std::string& input, const std::string& name) {
    static int counter = 0;
    std::string base = folder + "/" + name + "." + std::to_string(++counter);
    inPath_ = base + ".in";
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    WriteFile(inPath_, input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inPath_.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (auto& entry : environment) env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    int error = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
  }
  ~Child() { Kill(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  std::string Out() const { return ReadFile(outPath_); }
  std::string Err() const { return ReadFile(errPath_); }
  bool Running() const { return pid_ > 0; }
  void Signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
  }
  // Waits for the exit, killing the child when `limit` passes first.
  int Wait(std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    while (!Ended()) {
      if (Clock::now() >= deadline) Kill();
      std::this_thread::sleep_for(2ms);
    }
    return status_;
  }
  // Waits until standard output or error holds `text`; false when the child ended or the
  // limit passed first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit = 10s) {
    auto deadline = Clock::now() + limit;
    for (;;) {
      bool ended = Ended();  // asked first, so that all it wrote before it ended is looked at
      if (Out().find(text) != std::string::npos || Err().find(text) != std::string::npos)
        return true;
      if (ended || Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
  }

 private:
  // Whether the child has ended, collecting it when it has just now; its status is status_.
  bool Ended() {
    if (pid_ <= 0) return true;
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) != pid_) return false;
    pid_ = -1;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    status_ = -1;
  }

  pid_t pid_ = -1;
  int status_ = -1;
  std::string inPath_, outPath_, errPath_;
};

using NetworkUser = e2e::UserEntry;

// The server of the end-to-end tests, and the tool beside it.
class AdminToolFixture : public e2e::ServerTest {
 protected:
  static constexpr const char* kNetwork = "Lobby";
  static constexpr const char* kPassword = "secret words";

  void SetUp() override {
    WriteFile(PasswordFile(), std::string(kPassword) + "\n");
    port_ = FreePort();
  }

  std::string PasswordFile() const { return server_.Folder() + "/password"; }
  std::string LogText() const { return ReadFile(server_.LogPath()); }
  uint16_t Port() const { return port_; }

  void WriteNetwork(const std::vector<NetworkUser>& users, const std::string& maxusers = "20",
                    const std::string& enabled = "1", const std::string& name = kNetwork,
                    uint16_t port = 0) {
    server_.WriteNetwork({.name = name,
                          .password = kPassword,
                          .port = port ? port : port_,
                          .maxusers = maxusers,
                          .enabled = enabled,
                          .users = users});
  }

  // The usual cast: Admin may administer from 127.0.0.1; Bob is a plain member.
  void StartWithAdmin() {
    WriteNetwork({{"Admin", "127.0.0.1", "1", "0"}, {"Bob", "", "0", "0"}});
    StartServer();
  }

  void StopServer() {
    if (server_.Running()) server_.Stop();
  }

  static std::string ToolPath() {
    return (fs::path(VELMORA_BINARY).parent_path() / "velmora-admin").string();
  }

  // The tool's argument list: the words of the command line after the program name.
  std::vector<std::string> Args(const std::vector<std::string>& words, const std::string& user,
                                const std::string& host = "127.0.0.1",
                                const std::string& network = kNetwork, uint16_t port = 0) const {
    std::vector<std::string> argv = {ToolPath(), "--host", host, "--port",
                                     std::to_string(port ? port : port_), "--network", network,
                                     "--user", user, "--password-file", PasswordFile(),
                                     "--timeout", "5"};
    argv.insert(argv.end(), words.begin(), words.end());
    return argv;
  }

  ToolResult RunTool(const std::vector<std::string>& argv, const std::string& input = "") {
    Child child(argv, Environment(), server_.Folder(), input, "tool");
    ToolResult result;
    result.status = child.Wait(30s);
    result.out = child.Out();
    result.err = child.Err();
    return result;
  }
  ToolResult Admin(const std::vector<std::string>& words) { return RunTool(Args(words, "Admin")); }

  // velmora-admin watch in the background, logged in once it has said so.
  std::unique_ptr<Child> StartWatch(const std::vector<std::string>& argv) {
    auto child = std::make_unique<Child>(argv, Environment(), server_.Folder(), "", "watch");
    EXPECT_TRUE(child->WaitForOutput("Watching network")) << child->Err();
    return child;
  }
  std::unique_ptr<Child> StartWatch(const std::string& user, const std::string& host) {
    return StartWatch(Args({"watch"}, user, host));
  }

  static std::vector<std::string> Environment() {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
      if (std::strncmp(*entry, "XDG_DATA_HOME=", 14) != 0) environment.emplace_back(*entry);
    return environment;
  }

  // The shared fixture's server, by the name these tests have always used.
  e2e::ServerProcess& server_ = server;
  uint16_t port_ = 0;
};

}  // namespace velmora::admintest
