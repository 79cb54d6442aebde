#include "protocol/FrameCodec.h"

namespace velmora {

namespace {

void PutInt32(char* out, int32_t value) {
  auto bits = static_cast<uint32_t>(value);
  out[0] = static_cast<char>(bits >> 24);
  out[1] = static_cast<char>(bits >> 16);
  out[2] = static_cast<char>(bits >> 8);
  out[3] = static_cast<char>(bits);
}

int32_t GetInt32(const char* in) {
  auto byte = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(in[i])); };
  return static_cast<int32_t>(byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3));
}

}  // namespace

void AppendPacket(std::string& out, int32_t command, std::string_view data) {
  size_t start = out.size();
  out.resize(start + kFrameHeaderSize + data.size());
  PutInt32(&out[start], static_cast<int32_t>(kFrameHeaderSize + data.size()));
  PutInt32(&out[start + 4], command);
  if (!data.empty()) out.replace(start + kFrameHeaderSize, data.size(), data);
}

void FinishPacket(std::string& out, size_t start, int32_t command) {
  PutInt32(&out[start], static_cast<int32_t>(out.size() - start));
  PutInt32(&out[start + 4], command);
}

std::string CreatePacket(int32_t command, std::string_view data) {
  std::string frame;
  AppendPacket(frame, command, data);
  return frame;
}

CutResult CutFrame(std::string_view buffer, int32_t maxLength) {
  CutResult result;
  if (buffer.size() < 4) return result;
  int32_t length = GetInt32(buffer.data());
  if (length < kFrameHeaderSize || length > maxLength) {
    result.status = CutStatus::kBadLength;
    return result;
  }
  if (buffer.size() < static_cast<size_t>(length)) return result;
  result.status = CutStatus::kFrame;
  result.consumed = static_cast<size_t>(length);
  result.command = GetInt32(buffer.data() + 4);
  result.data = buffer.substr(kFrameHeaderSize, static_cast<size_t>(length) - kFrameHeaderSize);
  return result;
}

}  // namespace velmora
