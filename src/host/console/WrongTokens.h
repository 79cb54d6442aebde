#pragma once
// Wrong console tokens by source address, counted per minute from an address's first: after
// kAllowed in its minute, the address is shut out of log-in and actions until the minute ends,
// so a token cannot be guessed at the speed of the network. The log gets one line per address
// and minute, with the count, once the minute is over. The addresses followed are bounded; when
// more come, the one followed longest makes room. Any thread.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora::console {

class WrongTokens {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kAllowed = 10;
  static constexpr std::chrono::seconds kWindow{60};
  static constexpr size_t kMaxAddresses = 1024;

  bool ShutOut(const std::string& address, Clock::time_point now) const;
  void Count(const std::string& address, Clock::time_point now);
  // A log line for each address whose minute has ended, which is forgotten.
  std::vector<std::string> EndedMinutes(Clock::time_point now);

 private:
  struct Minute {
    Clock::time_point began;
    uint64_t count = 0;
  };
  static std::string Line(const std::string& address, uint64_t count);

  mutable std::mutex mutex_;
  std::unordered_map<std::string, Minute> minutes_;
  // Lines of minutes cut short to make room, waiting for EndedMinutes; bounded, the rest counted.
  std::vector<std::string> evicted_;
  uint64_t unlogged_ = 0;
};

}  // namespace velmora::console
