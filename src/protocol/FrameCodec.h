#pragma once
// The wire format of every message: a big-endian signed 32-bit total length (header included),
// a big-endian signed 32-bit command, then the payload bytes. Pure functions over bytes.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

constexpr int32_t kFrameHeaderSize = 8;
// Longest frame accepted from a peer; a longer length field ends the connection, so that no
// client can make the server buffer without bound.
constexpr int32_t kMaxFrameLength = 1 << 20;
// Longest payload the server sends: none of its frames exceeds the bound it holds its peers to.
constexpr size_t kMaxPayloadLength = kMaxFrameLength - kFrameHeaderSize;

// The frame for one message: 8 + data.size() bytes.
std::string CreatePacket(int32_t command, std::string_view data);
// Appends the frame for one message to `out`.
void AppendPacket(std::string& out, int32_t command, std::string_view data);
// For a frame written in place: `out` holds, from `start`, room for the header and then the
// payload; this fills in the header.
void FinishPacket(std::string& out, size_t start, int32_t command);

enum class CutStatus {
  kNeedMore,   // the buffer holds no complete frame yet
  kFrame,      // one frame cut: command, data, consumed
  kBadLength,  // the length field is below the header size or above the maximum
};

struct CutResult {
  CutStatus status = CutStatus::kNeedMore;
  size_t consumed = 0;  // bytes of the buffer the frame took
  int32_t command = 0;
  std::string_view data;  // refers into the buffer
};

// Cuts the first frame off the front of `buffer`; a length field above `maxLength` is bad.
CutResult CutFrame(std::string_view buffer, int32_t maxLength = kMaxFrameLength);

}  // namespace velmora
