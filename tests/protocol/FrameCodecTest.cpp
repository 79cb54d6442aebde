#include <gtest/gtest.h>

#include <vector>

#include "protocol/FrameCodec.h"

namespace velmora {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(FrameCodec, BuildsFramesByteForByte) {
  EXPECT_EQ(CreatePacket(7, "abc"), Bytes({0, 0, 0, 0x0B, 0, 0, 0, 7, 'a', 'b', 'c'}));
  EXPECT_EQ(CreatePacket(5, ""), Bytes({0, 0, 0, 8, 0, 0, 0, 5}));
  EXPECT_EQ(CreatePacket(-1, "").substr(4), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(FrameCodec, CutsOneFrameAndReportsWhatItTook) {
  std::string stream = CreatePacket(7, "abc") + CreatePacket(999, "");
  auto first = CutFrame(stream);
  ASSERT_EQ(first.status, CutStatus::kFrame);
  EXPECT_EQ(first.command, 7);
  EXPECT_EQ(first.data, "abc");
  EXPECT_EQ(first.consumed, 11u);
  auto second = CutFrame(std::string_view(stream).substr(first.consumed));
  ASSERT_EQ(second.status, CutStatus::kFrame);
  EXPECT_EQ(second.command, 999);
  EXPECT_EQ(second.data, "");
}

TEST(FrameCodec, WaitsForTheWholeFrameAtEverySplitPoint) {
  std::string frame = CreatePacket(4, std::string("10,20,3,100,1,0\0x", 17));
  for (size_t cut = 0; cut < frame.size(); ++cut)
    EXPECT_EQ(CutFrame(std::string_view(frame).substr(0, cut)).status, CutStatus::kNeedMore)
        << cut;
  EXPECT_EQ(CutFrame(frame).data.size(), 17u);
}

TEST(FrameCodec, RejectsLengthsBelowTheHeaderAndAboveTheMaximum) {
  for (int32_t length : {0, 1, 7, -1, -8, INT32_MIN, kMaxFrameLength + 1}) {
    std::string header = CreatePacket(1, "");
    auto bits = static_cast<uint32_t>(length);
    for (int i = 0; i < 4; ++i) header[i] = static_cast<char>(bits >> (24 - 8 * i));
    EXPECT_EQ(CutFrame(header).status, CutStatus::kBadLength) << length;
  }
  std::string largest(4, '\0');
  largest[1] = 0x10;  // exactly 1 MiB is allowed and awaited
  EXPECT_EQ(CutFrame(largest).status, CutStatus::kNeedMore);
}

}  // namespace
}  // namespace velmora
