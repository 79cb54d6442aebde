#pragma once
#include <stdexcept>
#include <string>

namespace velmora::platform {

// A file or folder could not be read or written.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmora::platform
