#pragma once
// What a session needs beyond its listener's context.
namespace velmora {

class Locator;
class PasswordGuesses;

struct ClientContext {
  Locator& locator;
  // Wrong passwords per address, over every listener.
  PasswordGuesses& guesses;
};

}  // namespace velmora
