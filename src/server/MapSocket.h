#pragma once
namespace velmora {
class MapSocket {};
}  // namespace velmora
