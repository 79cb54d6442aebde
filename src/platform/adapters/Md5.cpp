#include "platform/adapters/Md5.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace velmora::platform {

std::string Md5Digest(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1)
    throw std::runtime_error("MD5 digest failed");
  return std::string(reinterpret_cast<char*>(digest), length);
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace velmora::platform
