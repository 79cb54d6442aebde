#pragma once
// What a session needs beyond its listener's context.
namespace velmora {

class Locator;

struct ClientContext {
  Locator& locator;
};

}  // namespace velmora
