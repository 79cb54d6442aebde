#include "LatencyHistogram.h"

#include <bit>
#include <cmath>

namespace velmora::bench {

int LatencyHistogram::BucketOf(uint64_t micros) {
  if (micros < kExactBuckets) return static_cast<int>(micros);
  // The top 8 significant bits select the bucket within the value's power of two.
  int shift = std::bit_width(micros) - 8;
  return shift * 128 + static_cast<int>(micros >> shift);
}

uint64_t LatencyHistogram::ValueOf(int bucket) {
  if (bucket < kExactBuckets) return static_cast<uint64_t>(bucket);
  int shift = bucket / 128 - 1;
  uint64_t mantissa = static_cast<uint64_t>(bucket - shift * 128);
  // The middle of the bucket keeps the error symmetric.
  return (mantissa << shift) + ((uint64_t{1} << shift) >> 1);
}

void LatencyHistogram::Add(uint64_t micros) {
  ++counts_[BucketOf(micros)];
  ++count_;
  if (micros > max_) max_ = micros;
}

void LatencyHistogram::Merge(const LatencyHistogram& other) {
  for (int i = 0; i < kBuckets; ++i) counts_[i] += other.counts_[i];
  count_ += other.count_;
  if (other.max_ > max_) max_ = other.max_;
}

void LatencyHistogram::Clear() {
  counts_.fill(0);
  count_ = 0;
  max_ = 0;
}

uint64_t LatencyHistogram::Percentile(double fraction) const {
  if (count_ == 0) return 0;
  auto wanted = static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(count_)));
  if (wanted == 0) wanted = 1;
  uint64_t seen = 0;
  for (int i = 0; i < kBuckets; ++i) {
    seen += counts_[i];
    if (seen >= wanted) {
      uint64_t value = ValueOf(i);
      return value < max_ ? value : max_;
    }
  }
  return max_;
}

}  // namespace velmora::bench
