#pragma once
// What a session needs beyond its listener's context.
#include "client/PendingNames.h"

namespace velmora {

class Locator;

struct ClientContext {
  Locator& locator;
  PendingNames pendingNames = {};
};

}  // namespace velmora
