#include "platform/ByteBuffer.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace velmora::platform {

namespace {
// The first allocation holds a log-in dialogue's answers; later ones double.
constexpr size_t kFirstCapacity = 128;
}  // namespace

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      head_(std::exchange(other.head_, 0)),
      tail_(std::exchange(other.tail_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    head_ = std::exchange(other.head_, 0);
    tail_ = std::exchange(other.tail_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

char* ByteBuffer::Grow(size_t count) {
  size_t used = Size();
  if (head_ > 0 && used + count <= capacity_ / 2) {
    // Plenty of room once what was consumed is given up: move instead of growing.
    std::memmove(data_, data_ + head_, used);
  } else {
    size_t capacity = capacity_ ? size_t(capacity_) * 2
                                : std::max(kFirstCapacity, size_t{1} << lastGrowth_);
    while (capacity < used + count) capacity *= 2;
    auto* grown = static_cast<char*>(std::malloc(capacity));
    if (grown == nullptr) throw std::bad_alloc();
    if (used > 0) std::memcpy(grown, data_ + head_, used);
    std::free(data_);
    data_ = grown;
    capacity_ = static_cast<uint32_t>(capacity);
  }
  head_ = 0;
  tail_ = static_cast<uint32_t>(used);
  return data_ + tail_;
}

void ByteBuffer::Release() {
  // Remembered up to 64 KiB: a buffer that needed more starts there again.
  if (capacity_ > 0) lastGrowth_ = static_cast<uint8_t>(std::min<int>(16, static_cast<int>(std::bit_width(capacity_)) - 1));
  std::free(data_);
  data_ = nullptr;
  head_ = tail_ = capacity_ = 0;
}

}  // namespace velmora::platform
