#pragma once
// In-process server for tests: the application object, networks made in memory, listeners on
// free loopback ports, and clients whose waiting drives the same event loop.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {
class MapSocket;
class ServerNetworks;
}  // namespace velmora

namespace velmora::testing {

struct Frame {
  int32_t command = 0;
  std::string data;
};

class LoopHarness {
 public:
  // Makes a fresh App with its log in a temporary folder.
  LoopHarness();
  ~LoopHarness();

  ServerNetworks& AddNetwork(const std::string& name, const std::string& password,
                             int64_t maxUsers = 100, bool enabled = true);
  // A listener on a free port of 127.0.0.1 (all addresses, in fact).
  MapSocket& AddListener();
  uint16_t PortOf(MapSocket& listener) const;
  // Runs passes of the event loop for about `ms` milliseconds.
  void Spin(int ms);
  std::vector<std::string> LogLines() const;  // the text after "] "
  std::string Folder() const { return folder_; }
  void OpenDatabase();

 private:
  std::string folder_;
};

class LoopClient {
 public:
  explicit LoopClient(uint16_t port);
  ~LoopClient();
  void Send(int32_t command, const std::string& data);
  void SendRaw(const std::string& bytes);
  // Runs the event loop until a frame arrives (or `timeoutMs` passes).
  std::optional<Frame> Receive(int timeoutMs = 2000);
  // True when nothing arrives for `ms`.
  bool Silent(int ms = 100);
  // True when the server closed the connection within the time.
  bool Closed(int timeoutMs = 2000);
  // The whole log-in; each step must answer "OK".
  void LogIn(const std::string& network, const std::string& password, const std::string& user);
  void Close();

 private:
  bool Pump();
  int fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
};

std::string Md5(const std::string& text);

}  // namespace velmora::testing
