#pragma once
#include <memory>
#include <string>

namespace velmora::platform {

// Immutable bytes shared by every connection they are queued on: a relayed frame is built once.
using SharedBytes = std::shared_ptr<const std::string>;

inline SharedBytes MakeShared(std::string bytes) {
  return std::make_shared<const std::string>(std::move(bytes));
}

}  // namespace velmora::platform
