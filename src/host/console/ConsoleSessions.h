#pragma once
// The console's log-in sessions. A session id is random and only the server knows what it
// stands for: a cookie stolen or left behind is worth nothing once its session is closed, and
// the token itself never lies in a browser's cookie store. Few are kept: the oldest goes when a
// new one needs its place. Any thread.
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace velmora::console {

class ConsoleSessions {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMaxSessions = 64;
  static constexpr std::chrono::hours kLifetime{12};

  // A new session's id, valid from `now` for kLifetime.
  std::string Open(Clock::time_point now);
  bool Valid(const std::string& id, Clock::time_point now) const;
  void Close(const std::string& id);
  void CloseAll();

 private:
  struct Session {
    std::string id;
    Clock::time_point opened;
  };
  mutable std::mutex mutex_;
  std::vector<Session> sessions_;  // oldest first
};

}  // namespace velmora::console
