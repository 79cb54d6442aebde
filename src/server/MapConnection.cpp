#include "server/MapConnection.h"

#include "server/MapSocket.h"
#include "server/PendingLogins.h"

namespace velmora {

MapConnection::~MapConnection() {
  PendingLogins::Forget(*this);
}

void MapConnection::Prompted() { myParent.Context().pending.Prompted(*this); }

}  // namespace velmora
