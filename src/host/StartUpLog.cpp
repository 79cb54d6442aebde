#include "host/StartUpLog.h"

namespace velmora {

StartUpLog::~StartUpLog() { Finish(false); }

void StartUpLog::Write(const std::string& message, bool startNew) {
  if (startNew) {
    holding_ = true;
    held_.clear();
    heldBytes_ = 0;
    dropped_ = 0;
  }
  if (!holding_) {
    log_.Write(message, false);
    return;
  }
  if (heldBytes_ + message.size() > kMaxHeldBytes) {
    ++dropped_;
    return;
  }
  heldBytes_ += message.size();
  held_.push_back(message);
}

void StartUpLog::Finish(bool serving) {
  if (!holding_) return;
  holding_ = false;
  bool first = serving;
  for (const auto& message : held_) {
    log_.Write(message, first);
    first = false;
  }
  if (dropped_ != 0)
    log_.Write(std::to_string(dropped_) + " more start-up lines were not kept.", false);
  held_.clear();
  held_.shrink_to_fit();
  heldBytes_ = 0;
  dropped_ = 0;
}

}  // namespace velmora
