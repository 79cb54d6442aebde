#pragma once
// How often each member's position reports are relayed at most: a token bucket of N per member,
// refilled at N a second, so that a short burst of up to N passes untouched. A report beyond it
// is not relayed at once; the member is held, and when its next token comes the newest position
// it has reported by then goes out. One sender costs the others at most about 2N deliveries a
// second, and nothing a map shows is lost: the held position is at most 1/N s late. Chat and
// every other message never come here. One ceiling serves every listener of the server.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <queue>
#include <vector>

#include "platform/net/Timer.h"

namespace velmora {

class MapConnection;

// What the ceiling keeps of each member: the whole bucket as one time, the moment at which it is
// full again if no report comes meanwhile (each token taken moves it one interval on), and
// whether a report of the member waits for a token. Eight bytes, since every member carries one:
// the time in the steady clock's ticks, which 63 bits hold for centuries of uptime.
struct PositionBucket {
  using TimePoint = std::chrono::steady_clock::time_point;
  TimePoint FullAt() const { return TimePoint(TimePoint::duration(fullAtTicks)); }
  void SetFullAt(TimePoint at) { fullAtTicks = at.time_since_epoch().count(); }

  int64_t fullAtTicks : 63 = 0;
  bool held : 1 = false;
};
static_assert(sizeof(PositionBucket) == 8);

// The key to a connection's bucket: only the ceiling makes one.
class CeilingKey {
  friend class PositionCeiling;
  CeilingKey() = default;
};

class PositionCeiling {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr uint32_t kDefaultPerSecond = 30;
  // Beyond this the bucket's arithmetic would lose its sense (a token every nanosecond).
  static constexpr uint32_t kMaxPerSecond = 1000000;

  explicit PositionCeiling(uint32_t perSecond = 0) { SetPerSecond(perSecond); }
  PositionCeiling(const PositionCeiling&) = delete;
  PositionCeiling& operator=(const PositionCeiling&) = delete;

  // 0: no ceiling. Members held now go out when their token comes under the new rate.
  void SetPerSecond(uint32_t perSecond);
  uint32_t PerSecond() const { return perSecond_; }

  // Whether `sender`'s report may be relayed now (taking a token). If not, the sender is held:
  // its listener relays the position it holds then once a token comes (MapSocket::
  // RelayHeldPosition). A sender held already stays held once.
  bool Admit(MapConnection& sender);
  // `sender` is no member any more: nothing of it waits.
  void Forget(MapConnection& sender);

 private:
  struct Waiting {
    Clock::time_point due;
    std::weak_ptr<MapConnection> sender;
    bool operator>(const Waiting& other) const { return due > other.due; }
  };

  void ArmRelease();
  void Release();

  uint32_t perSecond_ = 0;
  Clock::duration interval_{};  // between tokens
  Clock::duration burst_{};     // how far ahead of now the bucket may run: N-1 intervals
  std::priority_queue<Waiting, std::vector<Waiting>, std::greater<>> held_;
  platform::Timer release_;
  Clock::time_point releaseAt_{};
};

}  // namespace velmora
