#include "client/PasswordGuesses.h"

namespace velmora {

void PasswordGuesses::Prune(Clock::time_point now) {
  // Every window is as long as the next, so the ones that are up are all at the front.
  while (!byWindowStart_.empty()) {
    auto entry = entries_.find(byWindowStart_.front());
    bool over = now - entry->second.windowStart >= kWindow;
    if (!over && entries_.size() <= kMaxAddresses) return;
    entries_.erase(entry);
    byWindowStart_.pop_front();
  }
}

bool PasswordGuesses::LockedOut(const std::string& address, Clock::time_point now) {
  Prune(now);
  auto entry = entries_.find(address);
  return entry != entries_.end() && entry->second.wrong >= kMaxWrongPerAddress;
}

void PasswordGuesses::CountWrong(const std::string& address, Clock::time_point now) {
  Prune(now);
  auto [entry, added] = entries_.try_emplace(address, Entry{now});
  if (added) byWindowStart_.push_back(address);
  ++entry->second.wrong;
  Prune(now);
}

bool PasswordGuesses::FirstRefusal(const std::string& address) {
  auto entry = entries_.find(address);
  if (entry == entries_.end() || entry->second.refusalLogged) return false;
  entry->second.refusalLogged = true;
  return true;
}

}  // namespace velmora
