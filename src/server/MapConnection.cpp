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

}  // namespace velmora
