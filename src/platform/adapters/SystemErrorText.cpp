#include "platform/adapters/SystemErrorText.h"

#include <system_error>

namespace velmora::platform {

std::string SystemErrorText(int64_t code) {
  return std::system_category().message(static_cast<int>(code));
}

}  // namespace velmora::platform
