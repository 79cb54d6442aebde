#include "platform/net/OutputQueue.h"

#include <algorithm>

namespace velmora::platform {

namespace {

// Latest frames queued past this (or past a quarter of the mark, when that is lower) are
// remembered, so that a queue thinned after its mark fell keeps at most this much of the past.
constexpr size_t kRememberPast = 16u << 10;

}  // namespace

void OutputQueue::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  own_.Append(bytes);
  unsent_ += bytes.size();
  if (!pieces_) return;
  auto& list = pieces_->list;
  if (list.size() > pieces_->first && !list.back().shared)
    list.back().length += static_cast<uint32_t>(bytes.size());
  else
    list.push_back({nullptr, 0, static_cast<uint32_t>(bytes.size())});
}

void OutputQueue::AppendShared(const SharedBytes& shared, size_t offset, size_t length) {
  if (length == 0) return;
  if (!pieces_) {
    pieces_ = std::make_unique<Pieces>();
    if (!own_.Empty()) pieces_->list.push_back({nullptr, 0, static_cast<uint32_t>(own_.Size())});
  }
  auto& list = pieces_->list;
  if (list.size() > pieces_->first) {
    Piece& last = list.back();
    if (last.shared == shared && last.offset + last.length == offset) {
      last.length += static_cast<uint32_t>(length);
      unsent_ += length;
      return;
    }
  }
  list.push_back({shared, static_cast<uint32_t>(offset), static_cast<uint32_t>(length)});
  unsent_ += length + kPieceCost;
}

size_t OutputQueue::AppendLatest(uint64_t key, std::string_view frame, size_t softMark) {
  if (WaitingLatest() == 0 && unsent_ < softMark) {
    AppendQueuedLatest(key, frame, softMark);
    return 0;
  }
  size_t dropped = 0;
  // The mark fell far below what is queued (the reader was found slow after the queue filled):
  // waiting for all of it to drain would show the reader the past for that long.
  if (latest_ && unsent_ / 2 > softMark && latest_->firstQueued < latest_->queued.size())
    dropped = Thin(softMark);
  if (!latest_) latest_ = std::make_unique<Latest>();
  auto known = latest_->byKey.find(key);
  if (known != latest_->byKey.end()) {
    known->second->second.assign(frame);  // the newer position replaces the older, in its place
    return dropped + 1;
  }
  latest_->order.emplace_back(key, std::string(frame));
  latest_->byKey.emplace(key, std::prev(latest_->order.end()));
  MoveLatestIn(softMark);
  return dropped;
}

void OutputQueue::AppendQueuedLatest(uint64_t key, std::string_view frame, size_t softMark) {
  // Below that the queue drains soon enough whatever the mark becomes, and a reader that keeps
  // up pays nothing for remembering.
  if (!pieces_ && unsent_ >= std::min(softMark / 4, kRememberPast)) {
    if (!latest_) latest_ = std::make_unique<Latest>();
    latest_->queued.push_back(
        {key, latest_->ownConsumed + own_.Size(), static_cast<uint32_t>(frame.size())});
  }
  Append(frame);
}

void OutputQueue::DropLatest(uint64_t key) {
  if (!latest_) return;
  auto known = latest_->byKey.find(key);
  if (known != latest_->byKey.end()) {
    latest_->order.erase(known->second);
    latest_->byKey.erase(known);
  }
  // Its queued frames go out where they are, before whatever announced its end: thinning must
  // not move them after it.
  auto& queued = latest_->queued;
  queued.erase(std::remove_if(queued.begin() + static_cast<std::ptrdiff_t>(latest_->firstQueued),
                              queued.end(), [key](const Queued& frame) { return frame.key == key; }),
               queued.end());
  ReleaseLatestIfUnused();
}

void OutputQueue::MoveLatestIn(size_t softMark) {
  while (WaitingLatest() > 0 && unsent_ < softMark) {
    auto& front = latest_->order.front();
    latest_->byKey.erase(front.first);
    AppendQueuedLatest(front.first, front.second, softMark);
    latest_->order.pop_front();
  }
  ReleaseLatestIfUnused();
}

size_t OutputQueue::Thin(size_t softMark) {
  if (pieces_) return 0;
  Latest& latest = *latest_;
  const char* data = own_.Data();
  size_t size = own_.Size();
  ByteBuffer kept;
  std::vector<std::pair<uint64_t, std::string>> taken;  // oldest first
  size_t from = 0;  // own_ is copied up to here
  for (size_t i = latest.firstQueued; i < latest.queued.size(); ++i) {
    const Queued& frame = latest.queued[i];
    if (frame.at < latest.ownConsumed) continue;  // begun: it goes out whole
    size_t begin = frame.at - latest.ownConsumed;
    if (begin < from || begin + frame.length > size) continue;
    kept.Append({data + from, begin - from});
    taken.emplace_back(frame.key, std::string(data + begin, frame.length));
    from = begin + frame.length;
  }
  kept.Append({data + from, size - from});
  unsent_ -= static_cast<uint32_t>(size - kept.Size());
  own_ = std::move(kept);
  latest.queued.clear();
  latest.firstQueued = 0;
  latest.ownConsumed = 0;
  // What was taken out is older than whatever waits: the newest of each key waits first, unless
  // a newer one of its key waits already.
  size_t dropped = 0;
  for (auto frame = taken.rbegin(); frame != taken.rend(); ++frame) {
    if (latest.byKey.count(frame->first)) {
      ++dropped;
      continue;
    }
    latest.order.push_front(std::move(*frame));
    latest.byKey.emplace(latest.order.front().first, latest.order.begin());
  }
  MoveLatestIn(softMark);
  return dropped;
}

void OutputQueue::ConsumedOwn(size_t count) {
  own_.Consume(count);
  if (!latest_) return;
  Latest& latest = *latest_;
  latest.ownConsumed += count;
  auto& queued = latest.queued;
  while (latest.firstQueued < queued.size() &&
         queued[latest.firstQueued].at + queued[latest.firstQueued].length <= latest.ownConsumed)
    ++latest.firstQueued;
  if (latest.firstQueued == queued.size()) {
    queued.clear();
    latest.firstQueued = 0;
  } else if (latest.firstQueued > 64 && latest.firstQueued * 2 > queued.size()) {
    queued.erase(queued.begin(), queued.begin() + static_cast<std::ptrdiff_t>(latest.firstQueued));
    latest.firstQueued = 0;
  }
}

void OutputQueue::ReleaseLatestIfUnused() {
  if (latest_ && latest_->order.empty() && latest_->firstQueued == latest_->queued.size())
    latest_.reset();
}

size_t OutputQueue::Gather(iovec* buffers, size_t max) const {
  if (max == 0) return 0;
  if (!pieces_) {
    if (own_.Empty()) return 0;
    buffers[0] = {const_cast<char*>(own_.Data()), own_.Size()};
    return 1;
  }
  size_t count = 0;
  const char* own = own_.Data();
  const auto& list = pieces_->list;
  for (size_t i = pieces_->first; i < list.size() && count < max; ++i) {
    const Piece& piece = list[i];
    if (piece.shared) {
      buffers[count++] = {const_cast<char*>(piece.shared->data() + piece.offset), piece.length};
    } else {
      buffers[count++] = {const_cast<char*>(own), piece.length};
      own += piece.length;
    }
  }
  return count;
}

void OutputQueue::Consume(size_t count, size_t softMark) {
  if (!pieces_) {
    ConsumedOwn(count);
    unsent_ -= count;
  } else {
    auto& list = pieces_->list;
    while (count > 0 && pieces_->first < list.size()) {
      Piece& piece = list[pieces_->first];
      size_t taken = std::min<size_t>(count, piece.length);
      count -= taken;
      unsent_ -= taken;
      piece.length -= static_cast<uint32_t>(taken);
      if (piece.shared)
        piece.offset += static_cast<uint32_t>(taken);
      else
        ConsumedOwn(taken);
      if (piece.length > 0) break;
      if (piece.shared) unsent_ -= kPieceCost;
      piece.shared.reset();
      ++pieces_->first;
    }
    // Back to the plain buffer once no shared piece is left.
    bool shared = false;
    for (size_t i = pieces_->first; i < list.size() && !shared; ++i) shared = !!list[i].shared;
    if (!shared) {
      pieces_.reset();
    } else if (pieces_->first > 64 && pieces_->first * 2 > list.size()) {
      list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(pieces_->first));
      pieces_->first = 0;
    }
  }
  MoveLatestIn(softMark);
}

void OutputQueue::Clear() {
  own_.Release();
  pieces_.reset();
  unsent_ = 0;
  latest_.reset();
}

}  // namespace velmora::platform
