#pragma once
// What one connection has yet to send, in order. Frames are copied into one contiguous buffer,
// so that a pass's output leaves in one write; a large frame sent to many, and runs of notices
// that many receive in one pass, are shared instead of copied (pieces that refer into shared
// bytes). Frames marked as the latest of a key (a member's position) are conflated once the
// queue is past a soft mark: only the newest per key waits, and goes out as the queue drains.
// The mark may drop after frames were queued (a reader found slow): those queued past a quarter
// of the mark (16 KiB at most) are remembered, so that a queue left far above the new mark is thinned to the
// newest of each key rather than drained in full.
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
  // Returns how many older frames of any key will never be sent now (replaced, or thinned).
  size_t AppendLatest(uint64_t key, std::string_view frame, size_t softMark);
  // Forgets the waiting latest frame of `key`, if any.
  void DropLatest(uint64_t key);

  // Bytes queued to be written, pieces counted at their cost; waiting latest frames excluded.
  size_t Unsent() const { return unsent_; }
  // How much may be unsent before the connection is ended (its owner checks).
  size_t Bound() const { return bound_; }
  void SetBound(size_t bytes) { bound_ = static_cast<uint32_t>(bytes); }
  size_t WaitingLatest() const { return latest_ ? latest_->order.size() : 0; }
  bool Empty() const { return unsent_ == 0 && WaitingLatest() == 0; }
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
  // A latest frame queued as it came, in own_: `at` counts own bytes from the first one
  // remembered.
  struct Queued {
    uint64_t key;
    uint64_t at;
    uint32_t length;
  };
  // Waiting latest frames, and the latest frames already queued that a lower mark may thin.
  // Kept while either has something.
  struct Latest {
    std::list<std::pair<uint64_t, std::string>> order;  // oldest first
    std::unordered_map<uint64_t, decltype(order)::iterator> byKey;
    std::vector<Queued> queued;  // in stream order
    size_t firstQueued = 0;      // those before it are sent
    uint64_t ownConsumed = 0;    // own bytes written since the first remembered
  };

  // Queues a latest frame as plain bytes, remembered when the queue is past a quarter of the mark
  // or 16 KiB.
  void AppendQueuedLatest(uint64_t key, std::string_view frame, size_t softMark);
  void MoveLatestIn(size_t softMark);
  // Takes the latest frames queued and not yet begun back out of the stream, so that only the
  // newest of each key waits; with shared pieces queued, the queue is left as it is.
  // Returns how many were dropped for a newer one of their key.
  size_t Thin(size_t softMark);
  void ConsumedOwn(size_t count);
  void ReleaseLatestIfUnused();

  ByteBuffer own_;
  // Bounded far below 4 GiB by the connection's limit on unsent output.
  uint32_t unsent_ = 0;
  uint32_t bound_ = UINT32_MAX;
  // Nothing while everything queued is in own_, the usual case; otherwise the stream in order.
  std::unique_ptr<Pieces> pieces_;
  std::unique_ptr<Latest> latest_;
};

}  // namespace velmora::platform
