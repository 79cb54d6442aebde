#pragma once
#include <stdexcept>

namespace velmora::console {

// The console cannot start as configured; the text says why, in a sentence fit for the log.
class ConsoleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmora::console
