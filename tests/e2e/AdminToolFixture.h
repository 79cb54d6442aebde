#pragma once
// The real server binary in a folder of its own, and velmora-admin run against it as an operator
// would run it: separate processes, loopback only, every wait bounded.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/WireClient.h"

extern char** environ;

namespace velmora::admintest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// A port nobody uses at this moment, below the range the kernel hands out to outgoing
// connections: a port from that range could be taken by any client's connection (of a test
// running beside this one) before the server gets to bind it.
inline uint16_t FreePort() {
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> pick(20000, 32000);
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto port = static_cast<uint16_t>(pick(random));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    bool free = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) ::close(fd);
    if (free) return port;
  }
  throw std::runtime_error("no free port");
}

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
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
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
    while (pid_ > 0) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        break;
      }
      if (Clock::now() >= deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        status_ = -1;
        break;
      }
      std::this_thread::sleep_for(2ms);
    }
    return status_;
  }
  // Waits until standard output or error holds `text`; false when the child ended or the
  // limit passed first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit = 10s) {
    auto deadline = Clock::now() + limit;
    for (;;) {
      if (Out().find(text) != std::string::npos || Err().find(text) != std::string::npos)
        return true;
      int raw = 0;
      if (pid_ > 0 && ::waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        continue;  // one more look at what it wrote before it ended
      }
      if (pid_ <= 0 || Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string inPath_, outPath_, errPath_;
};

struct NetworkUser {
  std::string name;
  std::string lastIp;
  std::string isAdmin;
  std::string isBanned;
};

// A server in a temporary folder: the binary copied there (it finds its files beside
// /proc/self/exe, which a link would not move), its settings, networks and data folder.
class AdminToolFixture : public ::testing::Test {
 protected:
  static constexpr const char* kNetwork = "Lobby";
  static constexpr const char* kPassword = "secret words";

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velmora-admin-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    folder_ = fs::canonical(pattern).string();
    fs::create_directories(folder_ + "/velmora-server");
    fs::create_directories(folder_ + "/data");
    fs::copy_file(VELMORA_BINARY, folder_ + "/velmora");
    fs::permissions(folder_ + "/velmora", fs::perms::owner_all, fs::perm_options::add);
    // An empty AttachedNIC names no interface: the listeners take every address, ::1 too.
    WriteFile(folder_ + "/velmora.conf",
              "<?xml version=\"1.0\"?>\n<settings><setting namestring=\"AttachedNIC\" "
              "valuestring=\"\" /></settings>\n");
    WriteFile(PasswordFile(), std::string(kPassword) + "\n");
    port_ = FreePort();
  }

  void TearDown() override {
    StopServer();
    if (std::getenv("VELMORA_KEEP_E2E") == nullptr) {
      std::error_code ignored;
      fs::remove_all(folder_, ignored);
    }
  }

  std::string PasswordFile() const { return folder_ + "/password"; }
  std::string LogText() const { return ReadFile(folder_ + "/data/com.velmora.log"); }
  uint16_t Port() const { return port_; }

  void WriteNetwork(const std::vector<NetworkUser>& users, const std::string& maxusers = "20",
                    const std::string& enabled = "1", const std::string& name = kNetwork,
                    uint16_t port = 0) {
    // The network element must follow the root's start tag directly.
    std::string xml = "<?xml version=\"1.0\"?>\n<velmora><network name=\"" + name +
                      "\" password=\"" + kPassword + "\" maxusers=\"" + maxusers +
                      "\" enabled=\"" + enabled + "\" port=\"" + std::to_string(port ? port : port_) +
                      "\">\n";
    for (auto& user : users)
      xml += "  <User Name=\"" + user.name + "\" LastIP=\"" + user.lastIp + "\" IsAdmin=\"" +
             user.isAdmin + "\" IsBanned=\"" + user.isBanned + "\" />\n";
    WriteFile(folder_ + "/velmora-server/" + name + ".conf", xml + "</network></velmora>\n");
  }

  // The usual cast: Admin may administer from 127.0.0.1; Bob is a plain member.
  void StartWithAdmin() {
    WriteNetwork({{"Admin", "127.0.0.1", "1", "0"}, {"Bob", "", "0", "0"}});
    StartServer();
  }

  void StartServer() {
    std::vector<std::string> environment = Environment();
    environment.push_back("XDG_DATA_HOME=" + folder_ + "/data");
    server_ = std::make_unique<Child>(std::vector<std::string>{folder_ + "/velmora"}, environment,
                                      folder_, "", "server");
    auto deadline = Clock::now() + 10s;
    while (LogText().find("Listening...") == std::string::npos) {
      if (!server_->Running() || Clock::now() >= deadline) FAIL() << "server did not start";
      std::this_thread::sleep_for(5ms);
    }
    // A listener that could not bind its port is logged, and start-up goes on without it.
    ASSERT_EQ(LogText().find("Server Error:"), std::string::npos) << LogText();
  }

  void StopServer() {
    if (!server_) return;
    server_->Signal(SIGTERM);
    server_->Wait(10s);
    server_.reset();
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
    Child child(argv, Environment(), folder_, input, "tool");
    ToolResult result;
    result.status = child.Wait(30s);
    result.out = child.Out();
    result.err = child.Err();
    return result;
  }
  ToolResult Admin(const std::vector<std::string>& words) { return RunTool(Args(words, "Admin")); }

  // velmora-admin watch in the background, logged in once it has said so.
  std::unique_ptr<Child> StartWatch(const std::vector<std::string>& argv) {
    auto child = std::make_unique<Child>(argv, Environment(), folder_, "", "watch");
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

  std::string folder_;
  uint16_t port_ = 0;
  std::unique_ptr<Child> server_;
};

}  // namespace velmora::admintest
