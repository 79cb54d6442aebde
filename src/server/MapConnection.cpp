#include "server/MapConnection.h"

#include "server/MapSocket.h"
#include "server/PendingLogins.h"

namespace velmora {

void MapConnection::Prompted() { myParent.Context().pending.Prompted(*this); }

}  // namespace velmora
