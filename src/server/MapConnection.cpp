#include "server/MapConnection.h"

#include "server/MapSocket.h"
#include "server/PendingLogins.h"

namespace velmora {

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
