#include "server/MapConnection.h"

#include <algorithm>

#include "server/MapSocket.h"
#include "server/PendingLogins.h"

namespace velmora {

size_t MapConnection::ConflationMark() const {
  uint32_t rate = DrainRate();
  if (rate == 0) return kConflationMark;
  return std::clamp<size_t>(rate / kConflationDrainShare, kConflationFloor, kConflationMark);
}

void MapConnection::Prompted() { myParent.Context().pending.Prompted(*this); }

void MapConnection::Depart(int64_t code, DepartureReason reason) {
  auto keepAlive = Self();
  EndSession(code, reason);
  Close();
}

void MapConnection::Dismiss(int64_t code, DepartureReason reason) {
  if (!IsConnected()) return;
  auto keepAlive = Self();
  EndSession(code, reason);
  // Not logged in any more, but not waiting to log in either: it is on its way out.
  myParent.Context().pending.Remove(*this);
  CloseAfterOutput(kNoticeGrace);
}

}  // namespace velmora
