#include "platform/net/ByteBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace velmora::platform {
namespace {

TEST(ByteBuffer, KeepsBytesInOrderThroughGrowthAndCompactionAndStartsAgainAsLargeAsItGrew) {
  ByteBuffer buffer;
  std::string expected;
  for (int i = 0; i < 300; ++i) {  // grows from 128 bytes to 4 KiB
    std::string piece = std::to_string(i) + ";";
    buffer.Append(piece);
    expected += piece;
  }
  EXPECT_EQ(buffer.View(), expected);
  size_t grown = buffer.Capacity();
  EXPECT_GE(grown, expected.size());
  // Most of it consumed, then a little more: the rest moves to the front instead of growing.
  buffer.Consume(expected.size() - 10);
  expected.erase(0, expected.size() - 10);
  buffer.Append("tail");
  expected += "tail";
  EXPECT_EQ(buffer.View(), expected);
  EXPECT_EQ(buffer.Capacity(), grown);

  ByteBuffer moved(std::move(buffer));
  EXPECT_EQ(moved.View(), expected);
  EXPECT_EQ(buffer.Capacity(), 0u);
  moved.Consume(moved.Size());
  EXPECT_TRUE(moved.Empty());
  EXPECT_EQ(moved.Capacity(), 0u);  // drained: nothing held
  moved.Append("x");
  EXPECT_EQ(moved.Capacity(), grown);
}

}  // namespace
}  // namespace velmora::platform
