#include "platform/net/OutputQueue.h"

#include <algorithm>

namespace velmora::platform {

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

bool OutputQueue::AppendLatest(uint64_t key, std::string_view frame, size_t softMark) {
  if (!latest_ && unsent_ < softMark) {
    Append(frame);
    return false;
  }
  if (!latest_) latest_ = std::make_unique<Latest>();
  auto known = latest_->byKey.find(key);
  if (known != latest_->byKey.end()) {
    known->second->second.assign(frame);  // the newer position replaces the older, in its place
    return true;
  }
  latest_->order.emplace_back(key, std::string(frame));
  latest_->byKey.emplace(key, std::prev(latest_->order.end()));
  MoveLatestIn(softMark);
  return false;
}

void OutputQueue::DropLatest(uint64_t key) {
  if (!latest_) return;
  auto known = latest_->byKey.find(key);
  if (known == latest_->byKey.end()) return;
  latest_->order.erase(known->second);
  latest_->byKey.erase(known);
  if (latest_->order.empty()) latest_.reset();
}

void OutputQueue::MoveLatestIn(size_t softMark) {
  while (latest_ && unsent_ < softMark) {
    Append(latest_->order.front().second);
    latest_->byKey.erase(latest_->order.front().first);
    latest_->order.pop_front();
    if (latest_->order.empty()) latest_.reset();
  }
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
    own_.Consume(count);
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
        own_.Consume(taken);
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
