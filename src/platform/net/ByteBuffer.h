#pragma once
// A contiguous byte queue in one allocation, grown on demand and given back as soon as it is
// empty, so that an idle connection holds no buffer at all. Every connection has two, so the
// object itself is kept to 16 bytes: the capacity is a power of two, kept as its exponent, and
// the read position lives in the allocation, in front of the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora::platform {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ~ByteBuffer() { Release(); }
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  size_t Size() const { return tail_ - Head(); }
  bool Empty() const { return Size() == 0; }
  const char* Data() const { return block_ ? Bytes() + HeadField() : nullptr; }
  std::string_view View() const { return {Data(), Size()}; }
  size_t Capacity() const { return block_ ? size_t{1} << capacityLog_ : 0; }

  // Space for `count` more bytes at the tail; Commit says how many were written into it.
  char* Room(size_t count) {
    return block_ && tail_ + count <= Capacity() ? Bytes() + tail_ : Grow(count);
  }
  void Commit(size_t count) { tail_ += static_cast<uint32_t>(count); }
  void Append(std::string_view bytes) {
    if (bytes.empty()) return;
    __builtin_memcpy(Room(bytes.size()), bytes.data(), bytes.size());
    Commit(bytes.size());
  }
  // Drops `count` bytes from the head; the storage goes back once nothing is left, and the
  // next one starts as large as it had grown, so that a busy buffer does not grow again from
  // nothing every time.
  void Consume(size_t count) {
    if (count == 0) return;
    HeadField() += static_cast<uint32_t>(count);
    if (HeadField() >= tail_) Release();
  }
  void Release();

 private:
  // The allocation: the read position, then the bytes.
  static constexpr size_t kHeader = 8;

  char* Bytes() const { return block_ + kHeader; }  // only with a block
  uint32_t Head() const { return block_ ? HeadField() : 0; }
  uint32_t& HeadField() const { return *reinterpret_cast<uint32_t*>(block_); }
  char* Grow(size_t count);

  char* block_ = nullptr;
  uint32_t tail_ = 0;
  uint8_t capacityLog_ = 0;
  uint8_t lastGrowth_ = 0;  // the exponent of the capacity given back last
};

}  // namespace velmora::platform
