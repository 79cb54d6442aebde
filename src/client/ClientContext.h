#pragma once
// What a session needs beyond its listener's context.
#include "client/PendingNames.h"

namespace velmora {

class Locator;
class PasswordGuesses;

struct ClientContext {
  Locator& locator;
  // Wrong passwords per address, over every listener.
  PasswordGuesses& guesses;
  PendingNames pendingNames = {};
};

}  // namespace velmora
