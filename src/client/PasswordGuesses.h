#pragma once
// Wrong passwords per source address, over all of its connections. An address that has given
// kMaxWrongPerAddress wrong ones within a window is locked out until that window is up: its
// password messages are then refused without being checked. Only addresses that have given a
// wrong password take a place, at most kMaxAddresses of them, so a client that rotates its
// address can neither grow this nor make it cost the members anything.
#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>

namespace velmora {

class PasswordGuesses {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr int kMaxWrongPerAddress = 20;
  static constexpr std::chrono::seconds kWindow{60};
  static constexpr size_t kMaxAddresses = 10000;

  // Whether `address` is locked out at `now`.
  bool LockedOut(const std::string& address, Clock::time_point now);
  // Counts a wrong password from `address`; the first one starts its window.
  void CountWrong(const std::string& address, Clock::time_point now);
  // True once per window of a locked-out address: whether to say that it is locked out.
  bool FirstRefusal(const std::string& address);

  size_t TrackedAddresses() const { return entries_.size(); }

 private:
  struct Entry {
    Clock::time_point windowStart;
    int wrong = 0;
    bool refusalLogged = false;
  };
  // Forgets the addresses whose window is up, and the oldest ones beyond the limit.
  void Prune(Clock::time_point now);

  std::unordered_map<std::string, Entry> entries_;
  // The tracked addresses in the order their windows started, oldest first.
  std::deque<std::string> byWindowStart_;
};

}  // namespace velmora
