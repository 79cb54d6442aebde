#pragma once
// Where a client's address lies. A connection asks once, when it is established, and is served
// further only once the answer has come; the service behind the answer is the application's
// choice (geo/ asks web services; tests answer at once).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/adapters/Picture.h"

namespace velmora {

struct ClientLocation {
  // Empty where the service did not name the field.
  std::optional<std::string> Country, State, City, Zip, TimeZone;
  // None when no flag arrived or what arrived is not a picture.
  std::shared_ptr<const platform::Picture> Flag;
};

class Locator {
 public:
  using Ticket = uint64_t;
  using Done = std::function<void(const ClientLocation&)>;

  virtual ~Locator() = default;
  // Looks `address` up; `done` runs later on the loop's thread, never inside Locate.
  virtual Ticket Locate(const std::string& address, Done done) = 0;
  // The connection has ended: its lookup is given up and `done` never runs.
  virtual void Cancel(Ticket ticket) = 0;
};

}  // namespace velmora
