#include "host/console/WrongTokens.h"

#include <algorithm>

namespace velmora::console {

namespace {

constexpr size_t kMaxEvictedLines = 64;

}  // namespace

std::string WrongTokens::Line(const std::string& address, uint64_t count) {
  return "Console: " + std::to_string(count) + " wrong token" + (count == 1 ? "" : "s") +
         " from " + address + " within a minute";
}

bool WrongTokens::ShutOut(const std::string& address, Clock::time_point now) const {
  std::lock_guard lock(mutex_);
  auto found = minutes_.find(address);
  return found != minutes_.end() && now - found->second.began < kWindow &&
         found->second.count >= kAllowed;
}

void WrongTokens::Count(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto found = minutes_.find(address);
  if (found != minutes_.end() && now - found->second.began >= kWindow) {
    if (evicted_.size() < kMaxEvictedLines) evicted_.push_back(Line(address, found->second.count));
    else ++unlogged_;
    minutes_.erase(found);
    found = minutes_.end();
  }
  if (found == minutes_.end()) {
    if (minutes_.size() >= kMaxAddresses) {
      auto oldest = std::min_element(minutes_.begin(), minutes_.end(), [](auto& a, auto& b) {
        return a.second.began < b.second.began;
      });
      if (evicted_.size() < kMaxEvictedLines)
        evicted_.push_back(Line(oldest->first, oldest->second.count));
      else ++unlogged_;
      minutes_.erase(oldest);
    }
    found = minutes_.emplace(address, Minute{now, 0}).first;
  }
  ++found->second.count;
}

std::vector<std::string> WrongTokens::EndedMinutes(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines = std::move(evicted_);
  evicted_.clear();
  for (auto it = minutes_.begin(); it != minutes_.end();) {
    if (now - it->second.began < kWindow) {
      ++it;
      continue;
    }
    lines.push_back(Line(it->first, it->second.count));
    it = minutes_.erase(it);
  }
  if (unlogged_ > 0)
    lines.push_back("Console: wrong tokens from " + std::to_string(unlogged_) +
                    " more address minutes not logged one by one");
  unlogged_ = 0;
  return lines;
}

}  // namespace velmora::console
