#include "platform/net/ByteBuffer.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace velmora::platform {

namespace {
// The first allocation holds a log-in dialogue's answers; later ones double.
constexpr uint8_t kFirstCapacityLog = 7;
// Remembered up to 64 KiB: a buffer that needed more starts there again.
constexpr uint8_t kLargestRememberedLog = 16;
}  // namespace

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : block_(std::exchange(other.block_, nullptr)),
      tail_(std::exchange(other.tail_, 0)),
      capacityLog_(std::exchange(other.capacityLog_, 0)),
      lastGrowth_(other.lastGrowth_) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    block_ = std::exchange(other.block_, nullptr);
    tail_ = std::exchange(other.tail_, 0);
    capacityLog_ = std::exchange(other.capacityLog_, 0);
    lastGrowth_ = other.lastGrowth_;
  }
  return *this;
}

char* ByteBuffer::Grow(size_t count) {
  uint32_t head = Head();
  size_t used = Size();
  size_t capacity = Capacity();
  if (head > 0 && used + count <= capacity / 2) {
    // Plenty of room once what was consumed is given up: move instead of growing.
    std::memmove(Bytes(), Bytes() + head, used);
  } else {
    uint8_t log = block_ ? capacityLog_ + 1 : std::max(kFirstCapacityLog, lastGrowth_);
    while ((size_t{1} << log) < used + count) ++log;
    auto* grown = static_cast<char*>(std::malloc(kHeader + (size_t{1} << log)));
    if (grown == nullptr) throw std::bad_alloc();
    if (used > 0) std::memcpy(grown + kHeader, Bytes() + head, used);
    std::free(block_);
    block_ = grown;
    capacityLog_ = log;
  }
  HeadField() = 0;
  tail_ = static_cast<uint32_t>(used);
  return Bytes() + tail_;
}

void ByteBuffer::Release() {
  if (block_ != nullptr) lastGrowth_ = std::min(kLargestRememberedLog, capacityLog_);
  std::free(block_);
  block_ = nullptr;
  tail_ = 0;
  capacityLog_ = 0;
}

}  // namespace velmora::platform
