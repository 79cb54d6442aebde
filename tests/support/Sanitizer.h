#pragma once
// Whether this build runs under AddressSanitizer: heavy fault tests scale their counts down
// there, and memory figures mean little (freed blocks sit in the sanitizer's quarantine).

namespace velmora::e2e {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif
#else
inline constexpr bool kUnderSanitizer = false;
#endif

// `normal` in a normal build, `sanitized` under the sanitizers.
constexpr int ScaledCount(int normal, int sanitized) {
  return kUnderSanitizer ? sanitized : normal;
}

}  // namespace velmora::e2e
