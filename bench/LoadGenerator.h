#pragma once
// The load generator: one epoll loop that drives every member's connection through log-in and
// then reports positions and checks what the server relays back.
//
// A report is "X,Y,1,100,0,0" with X the microseconds since the generator started (its send
// time on a monotonic clock) and Y the sender's sequence number starting at 0. Each code 5 that
// a member receives gives latency = receive time - X, and (sender, Y) tells losses, duplicates
// and reordering apart.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "LatencyHistogram.h"
#include "LoadOptions.h"
#include "RoundTripProbe.h"

namespace velmora::bench {

class LoadGenerator {
 public:
  explicit LoadGenerator(const LoadOptions& options);
  ~LoadGenerator();
  LoadGenerator(const LoadGenerator&) = delete;
  LoadGenerator& operator=(const LoadGenerator&) = delete;

  // Runs the whole scenario and prints its figures; the exit code is 0 when every log-in
  // succeeded and nothing was lost or dropped.
  int Run();

 private:
  enum class State : uint8_t { kNotStarted, kConnecting, kPrompt, kNetwork, kPassword, kUser,
                               kLoggedIn, kClosed };

  struct Member {
    int fd = -1;
    int network = 0;
    State state = State::kNotStarted;
    bool dirty = false;         // listed in dirty_ for the next flush
    bool waitsWritable = false; // EPOLLOUT registered because the socket buffer was full
    std::string in;             // bytes of an incomplete frame
    std::string out;            // bytes not yet written
    size_t outSent = 0;         // leading bytes of `out` already written
    int64_t loginStartNs = 0;
    uint32_t nextSeq = 0;  // reports sent so far
    uint32_t oldest = 0;   // window mode: oldest report not yet received by every other member
  };

  int64_t NowNs() const;
  int64_t NowUs() const { return NowNs() / 1000; }

  void RaiseDescriptorLimit();
  void LoginPhase();
  void LoadPhase();
  void IdlePhase();
  void DepartPhase();
  void SlowReaderPhase();

  void StartLogin(uint32_t index);
  void Poll(int64_t timeoutNs);
  void OnEvent(uint32_t index, uint32_t events);
  void OnConnected(uint32_t index);
  void OnReadable(uint32_t index);
  void Consume(uint32_t index, const char* bytes, size_t size);
  void OnFrame(uint32_t index, int32_t command, std::string_view data);
  void OnLoginAnswer(uint32_t index, int32_t command, std::string_view data);
  void OnPosition(uint32_t receiver, std::string_view data);
  void OnLoggedIn(uint32_t index);
  void FailLogin(uint32_t index, const std::string& reason);
  void Drop(uint32_t index, const std::string& reason);
  void CloseMember(uint32_t index);

  void Queue(uint32_t index, int32_t command, std::string_view data);
  void Flush();
  void FlushOne(uint32_t index);
  void WatchWritable(uint32_t index, bool on);

  void SendReport(uint32_t index);
  void SendDueReports();
  int64_t NextDueNs() const;
  void FillWindow(uint32_t sender);
  void Delivered(uint32_t sender, uint32_t seq);

  // Rate mode's extra member (--slow-reader, --flood-rate).
  bool IsSlowReader(uint32_t index) const { return options_.slowReader && index == extra_; }
  bool IsFlooder(uint32_t index) const { return options_.floodRate > 0 && index == extra_; }
  void ReadSlowly(int64_t now);
  void OnSlowPosition(uint64_t sender, uint64_t x, uint64_t seq);
  void OnSlowChat(std::string_view data);
  void NoteSendingStopped(int64_t now);
  void SendFloodReports(int64_t now);
  void PrintExtraSummary() const;

  void Tick(int64_t now);
  void PrintLoginSummary() const;
  void PrintLoadSummary(double loadSeconds) const;
  long ServerRssKb() const { return ServerStatusKb("VmRSS:"); }
  long ServerStatusKb(const char* field) const;
  bool ResetServerPeak() const;
  double ServerCpuSeconds() const;
  static double MachineBusySeconds();

  std::string NetworkName(int network) const;
  std::string UserName(uint32_t index) const;
  int Recipients(uint32_t sender) const;

  LoadOptions options_;
  int epoll_ = -1;
  std::unique_ptr<RoundTripProbe> probe_;
  int64_t startNs_ = 0;
  std::string digest_;
  std::vector<Member> members_;
  std::vector<uint32_t> dirty_;
  std::vector<int> loggedInPerNetwork_;
  int64_t nowUs_ = 0;  // time of the last read, shared by the frames it brought

  // Log-in phase.
  uint32_t nextToStart_ = 0;
  int inFlight_ = 0;
  int loggedIn_ = 0;
  int failed_ = 0;
  std::map<std::string, int> failures_;
  LatencyHistogram loginLatency_;
  int64_t loginNs_ = 0;

  // Load phase.
  bool loading_ = false;
  bool sending_ = false;
  int64_t measureStartUs_ = 0;
  int64_t measureEndUs_ = 0;
  int64_t loadStartNs_ = 0;
  std::vector<uint32_t> activeSenders_;
  uint64_t dueCount_ = 0;  // rate mode: reports handed out by the global schedule
  int64_t maxLateNs_ = 0;
  std::vector<uint32_t> pending_;  // window mode: receivers still missing, per sender and slot
  std::vector<uint32_t> lastSeq_;  // last sequence + 1 seen, per receiver and sender; may be off
  bool orderChecked_ = false;

  uint64_t sentTotal_ = 0;
  uint64_t sentMeasured_ = 0;
  uint64_t expectedMeasured_ = 0;
  uint64_t receivedTotal_ = 0;
  uint64_t receivedInWindow_ = 0;
  uint64_t receivedMeasured_ = 0;
  uint64_t outOfOrder_ = 0;
  uint64_t gaps_ = 0;
  uint64_t foreignFrames_ = 0;
  uint64_t memberLeft_ = 0;
  uint64_t otherFrames_ = 0;
  uint64_t drops_ = 0;
  std::map<std::string, int> dropReasons_;
  size_t maxBacklog_ = 0;
  bool incomplete_ = false;  // depart, slow reader: what was awaited did not all come
  LatencyHistogram latency_;

  // The extra member of rate mode: its index (members_.size() - 1), or none.
  uint32_t extra_ = UINT32_MAX;
  // Slow reader: what it read, the age of each position, per sender the last sequence + 1 it
  // saw and the one sent last, its chat lines, and when every sender's newest had reached it.
  uint64_t slowBytes_ = 0;
  uint64_t slowPositions_ = 0;
  uint64_t slowOlder_ = 0;
  LatencyHistogram slowAge_;
  std::vector<uint32_t> slowSeen_;
  std::vector<uint32_t> finalSeq_;
  size_t slowFinalsSeen_ = 0;
  int64_t sendStopNs_ = 0;
  int64_t allNewestSeenNs_ = 0;
  int64_t nextChatNs_ = 0;
  uint64_t chatsSent_ = 0;
  uint64_t slowChats_ = 0;
  uint64_t slowChatsOutOfOrder_ = 0;
  int64_t slowLastChat_ = -1;
  // Flooder: its reports sent, and those m0 received in the measured window, per second.
  uint64_t floodSent_ = 0;
  std::vector<uint64_t> floodRelayedPerSecond_;

  // Timeline, one line per second of load.
  int64_t nextTickNs_ = 0;
  uint64_t tickSent_ = 0;
  uint64_t tickReceived_ = 0;
  LatencyHistogram tickLatency_;
};

}  // namespace velmora::bench
