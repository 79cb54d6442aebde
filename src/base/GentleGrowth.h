#pragma once
// Lists that grow with the members and users of a busy server (many thousand entries) grow by a
// quarter at a time instead of doubling: doubling leaves up to half of a list empty for good,
// and the copies a quarter costs more are of pointers, once per growth.
#include <cstddef>

namespace velmora {

// Makes room for one more entry in `list` (a std::vector).
template <typename List>
void RoomForOneMore(List& list) {
  if (list.size() < list.capacity()) return;
  list.reserve(list.size() + list.size() / 4 + 16);
}

}  // namespace velmora
