#pragma once
// A contiguous byte queue: the bytes [head, tail) of one allocation, grown on demand and given
// back as soon as it is empty, so that an idle connection holds no buffer at all.
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

  size_t Size() const { return tail_ - head_; }
  bool Empty() const { return head_ == tail_; }
  const char* Data() const { return data_ + head_; }
  std::string_view View() const { return {Data(), Size()}; }
  size_t Capacity() const { return capacity_; }

  // Space for `count` more bytes at the tail; Commit says how many were written into it.
  char* Room(size_t count) { return tail_ + count <= capacity_ ? data_ + tail_ : Grow(count); }
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
    head_ += static_cast<uint32_t>(count);
    if (head_ >= tail_) Release();
  }
  void Release();

 private:
  char* Grow(size_t count);

  char* data_ = nullptr;
  uint32_t head_ = 0;
  uint32_t tail_ = 0;
  uint32_t capacity_ = 0;
  uint8_t lastGrowth_ = 0;  // log2 of the capacity given back last
};

}  // namespace velmora::platform
