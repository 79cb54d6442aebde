#include "host/console/ConsoleSessions.h"

#include <algorithm>

#include "platform/adapters/Md5.h"
#include "platform/adapters/RandomBytes.h"

namespace velmora::console {

namespace {

constexpr size_t kIdBytes = 32;

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

}  // namespace

std::string ConsoleSessions::Open(Clock::time_point now) {
  std::string id = Hex(platform::RandomBytes(kIdBytes));
  std::lock_guard lock(mutex_);
  std::erase_if(sessions_, [&](const Session& s) { return now - s.opened >= kLifetime; });
  if (sessions_.size() >= kMaxSessions) sessions_.erase(sessions_.begin());
  sessions_.push_back({id, now});
  return id;
}

bool ConsoleSessions::Valid(const std::string& id, Clock::time_point now) const {
  if (id.size() != 2 * kIdBytes) return false;
  std::lock_guard lock(mutex_);
  bool found = false;
  // Every id compared in full, so the time taken tells nothing of how near a guess came.
  for (const Session& session : sessions_)
    found = (platform::ConstantTimeEquals(session.id, id) && now - session.opened < kLifetime) ||
            found;
  return found;
}

void ConsoleSessions::Close(const std::string& id) {
  std::lock_guard lock(mutex_);
  std::erase_if(sessions_, [&](const Session& s) { return s.id == id; });
}

void ConsoleSessions::CloseAll() {
  std::lock_guard lock(mutex_);
  sessions_.clear();
}

}  // namespace velmora::console
