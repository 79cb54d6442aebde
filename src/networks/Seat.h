#pragma once
// A seat on a network: taken when a selection is accepted, given back exactly once, when the
// holder lets go of it (a new selection, the end of the connection) or is destroyed.
#include <utility>

#include "networks/ServerNetworks.h"

namespace velmora {

class Seat {
 public:
  Seat() = default;
  // A seat on `network` when it is enabled and not full; an empty seat otherwise.
  static Seat Take(ServerNetworks& network) {
    Seat seat;
    if (network.TakeSeat()) seat.network_ = &network;
    return seat;
  }
  Seat(Seat&& other) noexcept : network_(std::exchange(other.network_, nullptr)) {}
  Seat& operator=(Seat&& other) noexcept {
    if (this != &other) {
      Return();
      network_ = std::exchange(other.network_, nullptr);
    }
    return *this;
  }
  Seat(const Seat&) = delete;
  Seat& operator=(const Seat&) = delete;
  ~Seat() { Return(); }

  void Return() {
    if (network_ != nullptr) std::exchange(network_, nullptr)->ReturnSeat();
  }
  // The network the seat is on; nothing for an empty seat.
  ServerNetworks* Network() const { return network_; }
  explicit operator bool() const { return network_ != nullptr; }

 private:
  ServerNetworks* network_ = nullptr;
};

}  // namespace velmora
