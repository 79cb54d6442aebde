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
  char* Room(size_t count);
  void Commit(size_t count) { tail_ += static_cast<uint32_t>(count); }
  void Append(std::string_view bytes);
  // Drops `count` bytes from the head; the storage goes back once nothing is left.
  void Consume(size_t count);
  void Release();

 private:
  char* data_ = nullptr;
  uint32_t head_ = 0;
  uint32_t tail_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace velmora::platform
