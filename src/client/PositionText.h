#pragma once
// The text of a member's position: Username "|" X "," Y "," Facet "," HP "," in-battle "," dead.
#include <string>

namespace velmora {

class ClientSocket;

std::string PositionText(const ClientSocket& member);

}  // namespace velmora
