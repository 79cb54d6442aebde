// A connection's output, drained in writes of every size the kernel might take: whatever was
// queued as own bytes or shared ranges leaves whole and in order, positions (latest of a key)
// never go out older after newer, the newest of each key always goes out, and nothing is left
// counted once the queue is empty.
#include "platform/net/OutputQueue.h"

#include <gtest/gtest.h>
#include <sys/uio.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace velmora::platform {
namespace {

const SharedBytes kBlock = MakeShared("0123456789");

struct Op {
  enum Kind { kOwn, kShared, kLatest } kind;
  std::string text = {};  // own bytes
  size_t offset = 0, length = 0;  // of kBlock
  uint64_t key = 0;
  int sequence = 0;  // of a position; positions are "<key:sequence>"
};

Op Own(std::string text) { return {Op::kOwn, std::move(text)}; }
Op Shared(size_t offset, size_t length) { return {Op::kShared, {}, offset, length}; }
Op Position(uint64_t key, int sequence) { return {Op::kLatest, {}, 0, 0, key, sequence}; }

struct Case {
  const char* name;
  size_t softMark;
  std::vector<Op> before;  // queued, then `split` bytes are written
  std::vector<Op> after;   // queued after that, then the rest is written
  size_t markAfter = 0;    // the mark from then on (a reader found slow); 0: unchanged
};

void Apply(OutputQueue& queue, const std::vector<Op>& ops, size_t softMark, std::string& plain,
           std::map<uint64_t, int>& newest) {
  for (const Op& op : ops) {
    switch (op.kind) {
      case Op::kOwn:
        queue.Append(op.text);
        plain += op.text;
        break;
      case Op::kShared:
        queue.AppendShared(kBlock, op.offset, op.length);
        plain += kBlock->substr(op.offset, op.length);
        break;
      case Op::kLatest:
        queue.AppendLatest(op.key, "<" + std::to_string(op.key) + ":" +
                                       std::to_string(op.sequence) + ">", softMark);
        newest[op.key] = op.sequence;
        break;
    }
  }
}

// Writes up to `limit` bytes, as a kernel that takes only so much would.
size_t Write(OutputQueue& queue, size_t limit, size_t softMark, std::string& out) {
  iovec buffers[4];
  size_t count = queue.Gather(buffers, 4);
  size_t written = 0;
  for (size_t i = 0; i < count && written < limit; ++i) {
    size_t take = std::min(buffers[i].iov_len, limit - written);
    out.append(static_cast<const char*>(buffers[i].iov_base), take);
    written += take;
  }
  queue.Consume(written, softMark);
  return written;
}

void WriteAll(OutputQueue& queue, size_t chunk, size_t softMark, std::string& out) {
  for (int i = 0; i < 10000 && !queue.Empty(); ++i) {
    ASSERT_GT(Write(queue, chunk, softMark, out), 0u) << "a queue that is not empty gave nothing";
  }
}

const std::vector<Case> kCases = {
    {"own bytes", 1000, {Own("[a]"), Own("[bb]"), Own("[ccc]")}, {Own("[d]")}},
    {"shared ranges, joined when adjacent",
     1000,
     {Shared(0, 4), Shared(4, 3), Own("[x]"), Shared(2, 5)},
     {Shared(7, 3), Shared(0, 1)}},
    {"positions below the mark go as they come",
     1000,
     {Position(1, 1), Own("[o]"), Position(1, 2)},
     {Position(2, 1), Position(1, 3)}},
    {"positions past the mark wait, the newest in place of the older",
     8,
     {Own("[aaaaaaaaaa]"), Position(1, 1), Position(2, 1), Position(1, 2)},
     {Position(2, 2), Own("[b]"), Position(3, 1), Position(1, 3)}},
    {"all three mixed about the mark",
     12,
     {Shared(0, 6), Position(7, 1), Own("[own]"), Position(8, 1), Shared(6, 4), Position(7, 2)},
     {Position(8, 2), Shared(1, 2), Own("[z]"), Position(7, 3)}},
    {"a mark fallen far below the queue thins it to the newest of each key",
     40,
     {Position(1, 1), Own("[a]"), Position(2, 1), Position(1, 2), Position(2, 2), Own("[b]"),
      Position(1, 3), Position(3, 1), Position(2, 3)},
     {Position(1, 4), Own("[c]"), Position(3, 2)},
     4},
};

// Positions "<key:sequence>" one after another: the stream of them queued in order.
std::vector<Op> Positions(int count) {
  std::vector<Op> ops;
  for (int i = 1; i <= count; ++i) ops.push_back(Position(i % 3, i));
  return ops;
}

TEST(OutputQueue, DrainsWholeInOrderAtEverySplitWithNoOlderPositionAfterANewer) {
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.name);
    // The size of the whole stream bounds the split points worth trying.
    for (size_t split = 0; split <= 40; ++split) {
      for (size_t chunk : {size_t{1}, size_t{3}, size_t{64}}) {
        SCOPED_TRACE("split " + std::to_string(split) + ", writes of " + std::to_string(chunk));
        OutputQueue queue;
        std::string plain, out;
        std::map<uint64_t, int> newest;
        Apply(queue, test.before, test.softMark, plain, newest);
        for (size_t done = 0; done < split && !queue.Empty();) {
          size_t written = Write(queue, std::min(chunk, split - done), test.softMark, out);
          ASSERT_GT(written, 0u) << "a queue that is not empty gave nothing";
          done += written;
        }
        size_t markAfter = test.markAfter ? test.markAfter : test.softMark;
        Apply(queue, test.after, markAfter, plain, newest);
        WriteAll(queue, chunk, markAfter, out);

        EXPECT_EQ(queue.Unsent(), 0u);
        EXPECT_TRUE(queue.Empty());
        EXPECT_EQ(queue.WaitingLatest(), 0u);
        // Positions out of the stream: what is left is every other byte, in order.
        std::string rest;
        std::map<uint64_t, int> seen;
        for (size_t at = 0; at < out.size();) {
          if (out[at] != '<') {
            rest += out[at++];
            continue;
          }
          size_t colon = out.find(':', at), end = out.find('>', at);
          ASSERT_NE(end, std::string::npos) << out;
          uint64_t key = std::stoull(out.substr(at + 1, colon - at - 1));
          int sequence = std::stoi(out.substr(colon + 1, end - colon - 1));
          EXPECT_GT(sequence, seen[key]) << "an older position after a newer one: " << out;
          seen[key] = sequence;
          at = end + 1;
        }
        EXPECT_EQ(rest, plain);
        EXPECT_EQ(seen, newest) << "the newest position of each key goes out: " << out;
      }
    }
  }
}

TEST(OutputQueue, AMarkFallenFarBelowTheQueueLeavesWhatWasQueuedBelowAQuarterOfTheOldOne) {
  OutputQueue queue;
  std::string plain;
  std::map<uint64_t, int> newest;
  Apply(queue, Positions(200), 2000, plain, newest);  // about 1,300 bytes, all queued
  ASSERT_GT(queue.Unsent(), 1000u);
  // Conflating at 100 now: what was queued past 500 goes but for the newest of each key.
  Apply(queue, {Position(0, 201)}, 100, plain, newest);
  EXPECT_GE(queue.Unsent(), 500u);
  EXPECT_LT(queue.Unsent(), 500u + 7);
  EXPECT_EQ(queue.WaitingLatest(), 3u);
  // What is left was queued below a quarter of a mark: a lower mark takes nothing more out.
  Apply(queue, {Position(1, 202)}, 100, plain, newest);
  EXPECT_LT(queue.Unsent(), 500u + 7);
  EXPECT_EQ(queue.WaitingLatest(), 3u);
}

}  // namespace
}  // namespace velmora::platform
