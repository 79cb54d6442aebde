#include "platform/adapters/Sha256.h"

#include <openssl/sha.h>

namespace velmora::platform {

std::string Sha256Digest(std::string_view bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

}  // namespace velmora::platform
