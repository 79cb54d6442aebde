#pragma once
// Latencies in microseconds, counted in log-linear buckets: exact below 256 us, then 128
// buckets per power of two (under 0.8 % error), so that tens of millions of samples cost a fixed
// 60 KB instead of a sample each.
#include <array>
#include <cstdint>

namespace velmora::bench {

class LatencyHistogram {
 public:
  void Add(uint64_t micros);
  void Merge(const LatencyHistogram& other);
  void Clear();

  uint64_t Count() const { return count_; }
  uint64_t Max() const { return max_; }
  // The smallest bucket value at or below which `fraction` of the samples lie; 0 when empty.
  uint64_t Percentile(double fraction) const;

 private:
  static constexpr int kExactBuckets = 256;
  static constexpr int kBuckets = 57 * 128 + kExactBuckets;
  static int BucketOf(uint64_t micros);
  static uint64_t ValueOf(int bucket);

  std::array<uint64_t, kBuckets> counts_{};
  uint64_t count_ = 0;
  uint64_t max_ = 0;
};

}  // namespace velmora::bench
