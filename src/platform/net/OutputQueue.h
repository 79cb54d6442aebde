#pragma once
// What one connection has yet to send, in order. Frames are copied into one contiguous buffer,
// so that a pass's output leaves in one write; a large frame sent to many, and runs of notices
// that many receive in one pass, are shared instead of copied (pieces that refer into shared
// bytes). Frames marked as the latest of a key (a member's position) are conflated once the
// queue is past a soft mark: only the newest per key waits, and goes out as the queue drains.
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/net/ByteBuffer.h"
#include "platform/net/SharedBytes.h"

namespace velmora::platform {

class OutputQueue {
 public:
  // What one piece of queue costs besides its bytes, counted against a connection's bound.
  static constexpr size_t kPieceCost = 32;

  void Append(std::string_view bytes);
  // `length` bytes of `shared` from `offset`, queued without a copy. Consecutive ranges of one
  // shared block with nothing in between are one piece.
  void AppendShared(const SharedBytes& shared, size_t offset, size_t length);
  // Queues `frame` as the latest of `key`: as it is while the queue is below `softMark` and no
  // older latest frame waits; otherwise it waits in place of any older one of the same key.
  // True when it replaced one: an older frame that will never be sent.
  bool AppendLatest(uint64_t key, std::string_view frame, size_t softMark);
  // Forgets the waiting latest frame of `key`, if any.
  void DropLatest(uint64_t key);

  // Bytes queued to be written, pieces counted at their cost; waiting latest frames excluded.
  size_t Unsent() const { return unsent_; }
  // How much may be unsent before the connection is ended (its owner checks).
  size_t Bound() const { return bound_; }
  void SetBound(size_t bytes) { bound_ = static_cast<uint32_t>(bytes); }
  size_t WaitingLatest() const { return latest_ ? latest_->order.size() : 0; }
  bool Empty() const { return unsent_ == 0 && !latest_; }
  // What the queue's own buffer holds allocated now.
  size_t Capacity() const { return own_.Capacity(); }

  // The next bytes to write, as at most `max` buffers; returns how many were filled.
  size_t Gather(iovec* buffers, size_t max) const;
  // `count` bytes were written; waiting latest frames move in while the queue is below the mark.
  void Consume(size_t count, size_t softMark);
  void Clear();

 private:
  struct Piece {
    SharedBytes shared;  // nothing: `length` bytes of own_
    uint32_t offset = 0;
    uint32_t length = 0;
  };
  struct Pieces {
    std::vector<Piece> list;
    size_t first = 0;  // pieces before it are sent
  };
  struct Latest {
    std::list<std::pair<uint64_t, std::string>> order;  // oldest first
    std::unordered_map<uint64_t, decltype(order)::iterator> byKey;
  };

  void MoveLatestIn(size_t softMark);

  ByteBuffer own_;
  // Bounded far below 4 GiB by the connection's limit on unsent output.
  uint32_t unsent_ = 0;
  uint32_t bound_ = UINT32_MAX;
  // Nothing while everything queued is in own_, the usual case; otherwise the stream in order.
  std::unique_ptr<Pieces> pieces_;
  std::unique_ptr<Latest> latest_;
};

}  // namespace velmora::platform
