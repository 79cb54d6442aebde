#pragma once
// What one run of the load generator does, read from its command line.
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::bench {

enum class LoadMode {
  kRate,    // each sender reports at a fixed rate
  kWindow,  // closed loop: each sender keeps at most `window` reports undelivered
  kIdle,    // members only log in and stay silent
  kFloor,   // no server: what loopback TCP alone costs per send (window = frames per send)
  kDepart,  // members log in, stay quiet, then all close at once; one more member watches
  kSlowReader,  // member 0 floods positions (and chat) while member 1 reads at a low rate
  kStrangers,   // connections that never log in send what an attacker would
};

struct LoadOptions {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string network = "Bench";
  int networks = 1;  // more than 1: members spread over network0 .. network(K-1)
  std::string password = "pw";
  std::string prefix = "m";
  int members = 10;
  int senders = -1;  // -1: every member reports
  int sources = 0;   // 0: as many 127.0.0.x source addresses as the member count needs
  int loginsInFlight = 64;
  double loginTimeout = 600;
  LoadMode mode = LoadMode::kWindow;
  double rate = 1;
  int window = 128;
  double warmup = 2;
  double duration = 10;
  double drain = 5;
  double hold = 3;
  int serverPid = 0;
  bool timeline = false;
  std::string probeNetwork;  // empty: no bystander probe
  double probeIntervalMs = 5;
  // Slow reader: the reader's rate and receive buffer, the flood's size and its chat lines.
  int readRate = 64 * 1024;
  int receiveBuffer = 4096;
  int reports = 1'000'000;
  int chatEvery = 1000;  // 0: no chat
  // Rate mode: one member more than --members, after the senders. A slow reader reads at
  // readRate through a receiveBuffer and reports nothing (m0 then sends a chat line every
  // 100 ms); a flooder reports floodRate times a second on a schedule of its own.
  bool slowReader = false;
  double floodRate = 0;
};

// The options; throws std::invalid_argument with a message for the user on a bad command line.
// Returns false when only the usage text was asked for.
bool ParseLoadOptions(const std::vector<std::string>& args, LoadOptions& options);
const char* LoadUsage();

}  // namespace velmora::bench
