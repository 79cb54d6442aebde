// The frame cutter, fed a byte stream split at points the input chooses. Cutting the stream whole
// and cutting it piece by piece as it arrives must give the same frames in the same order, both
// for the pure cutter and for a framed connection with its queue; a frame cut out of the stream
// builds back to the same bytes; and a bad length field is final: nothing after it is delivered.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/net/EventLoop.h"
#include "platform/net/MemoryChannel.h"
#include "platform/net/TcpListener.h"
#include "transport/EasyTCPSocket.h"
#include "protocol/FrameCodec.h"
#include "protocol/Message.h"

namespace velmora::fuzz {
namespace {

struct Cutting {
  std::vector<Message> frames;
  std::vector<size_t> ends;  // stream offset just behind each frame
  bool bad = false;          // stopped at a bad length field
  size_t badAt = 0;          // where the frame with the bad length begins
};

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes.substr(0, 16)) {
    text += kDigits[c >> 4];
    text += kDigits[c & 15];
  }
  return text;
}

// One call of the cutter, checked against the frame layout.
CutResult CheckedCut(std::string_view buffer) {
  CutResult cut = CutFrame(buffer);
  switch (cut.status) {
    case CutStatus::kNeedMore:
      FUZZ_CHECK(cut.consumed == 0, "need-more consumed bytes");
      if (buffer.size() >= 4) {
        // Only a valid length that the buffer does not hold yet may wait for more.
        CutResult header = CutFrame(buffer.substr(0, 4));
        FUZZ_CHECK(header.status == CutStatus::kNeedMore, "a 4-byte header decides differently");
      }
      break;
    case CutStatus::kFrame:
      FUZZ_CHECK(cut.consumed >= static_cast<size_t>(kFrameHeaderSize) &&
                     cut.consumed <= static_cast<size_t>(kMaxFrameLength) &&
                     cut.consumed <= buffer.size(),
                 "frame length out of range: " + std::to_string(cut.consumed));
      FUZZ_CHECK(cut.data.data() == buffer.data() + kFrameHeaderSize &&
                     cut.data.size() == cut.consumed - kFrameHeaderSize,
                 "payload is not the bytes behind the header");
      FUZZ_CHECK(CreatePacket(cut.command, cut.data) == buffer.substr(0, cut.consumed),
                 "a cut frame does not build back to its bytes: " + Hex(buffer));
      break;
    case CutStatus::kBadLength:
      FUZZ_CHECK(buffer.size() >= 4, "bad length from fewer than 4 bytes");
      // The length field alone decides, so the verdict holds for every longer buffer.
      FUZZ_CHECK(CutFrame(buffer.substr(0, 4)).status == CutStatus::kBadLength,
                 "bad length depends on more than the length field");
      break;
  }
  return cut;
}

Cutting CutWhole(std::string_view stream) {
  Cutting result;
  size_t at = 0;
  for (;;) {
    CutResult cut = CheckedCut(stream.substr(at));
    if (cut.status == CutStatus::kNeedMore) break;
    if (cut.status == CutStatus::kBadLength) {
      result.bad = true;
      result.badAt = at;
      break;
    }
    result.frames.push_back({cut.command, std::string(cut.data)});
    at += cut.consumed;
    result.ends.push_back(at);
  }
  return result;
}

// The pure cutter as a receiver uses it: a buffer that grows by each piece and loses each frame.
Cutting CutInPieces(std::string_view stream, const std::vector<size_t>& pieces) {
  Cutting result;
  std::string buffer;
  size_t at = 0;
  for (size_t piece : pieces) {
    buffer.append(stream.substr(at, piece));
    at += piece;
    if (result.bad) {
      FUZZ_CHECK(CutFrame(buffer).status == CutStatus::kBadLength, "a bad length did not stick");
      continue;
    }
    for (;;) {
      CutResult cut = CheckedCut(buffer);
      if (cut.status == CutStatus::kNeedMore) break;
      if (cut.status == CutStatus::kBadLength) {
        result.bad = true;
        break;
      }
      result.frames.push_back({cut.command, std::string(cut.data)});
      buffer.erase(0, cut.consumed);
    }
  }
  return result;
}

// A framed connection that records what it delivers.
class Recorder : public EasyTCPSocket {
 public:
  std::vector<Message> delivered;
  int errors = 0;
  int64_t errorCode = 0;

 protected:
  void Event_ReceivedMessage(int32_t command, std::string_view data) override {
    FUZZ_CHECK(errors == 0, "a message was delivered after the connection failed");
    delivered.push_back({command, std::string(data)});
  }
  void Event_Error(int64_t code) override {
    ++errors;
    errorCode = code;
    Close();
  }
};

class RecordingListener : public platform::TcpListener {
 protected:
  std::shared_ptr<platform::TcpConnection> Event_AddSocket() override {
    return std::make_shared<Recorder>();
  }
};

void Drain(Recorder& connection, size_t bound) {
  auto& loop = platform::EventLoop::Instance();
  for (size_t pass = 0; pass < bound; ++pass) {
    loop.RunOnce(0);
    if (connection.QueuedMessageCount() == 0 && !loop.HasPendingWork()) break;
  }
  loop.RunOnce(0);  // handlers posted by the last pass, such as an error
}

// The stream: raw bytes, or frames built from commands and payloads with a few stray bytes
// between them. The first byte chooses.
std::string BuildStream(ByteReader& input) {
  std::string stream;
  if (input.Below(2) == 0) {
    size_t length = input.Byte();
    length |= size_t{input.Byte()} << 8;
    for (size_t i = 0; i < length && !input.Empty(); ++i) stream += static_cast<char>(input.Byte());
    return stream;
  }
  size_t records = 1 + input.Below(32);
  for (size_t record = 0; record < records; ++record) {
    if (input.Below(8) == 0) {
      stream += input.Text(12);
      continue;
    }
    int32_t command = input.Int32();
    std::string data = input.Text(255);
    std::string frame = CreatePacket(command, data);
    FUZZ_CHECK(frame.size() == data.size() + kFrameHeaderSize, "frame size");
    CutResult cut = CutFrame(frame);
    FUZZ_CHECK(cut.status == CutStatus::kFrame && cut.consumed == frame.size() &&
                   cut.command == command && cut.data == data,
               "a built frame does not cut back to its command and data");
    size_t before = stream.size();
    AppendPacket(stream, command, data);
    FUZZ_CHECK(stream.compare(before, std::string::npos, frame) == 0,
               "AppendPacket differs from CreatePacket");
  }
  return stream;
}

}  // namespace
}  // namespace velmora::fuzz

using namespace velmora;
using namespace velmora::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static RecordingListener listener;
  ByteReader input(data, size);
  std::string stream = BuildStream(input);

  // Where the stream is split, and after which pieces the main loop delivers what is queued:
  // a byte per piece, its low bits the length (0: the rest), its top bit a delivery.
  std::vector<size_t> pieces;
  std::vector<bool> drainAfter;
  for (size_t at = 0; at < stream.size();) {
    uint8_t split = input.Byte();
    size_t left = stream.size() - at;
    size_t piece = (split & 0x7F) == 0 ? left : std::min<size_t>(split & 0x7F, left);
    pieces.push_back(piece);
    drainAfter.push_back(split & 0x80);
    at += piece;
  }

  Cutting whole = CutWhole(stream);
  Cutting pieced = CutInPieces(stream, pieces);
  FUZZ_CHECK(pieced.frames == whole.frames, "pieces cut into other frames than the whole");
  FUZZ_CHECK(pieced.bad == whole.bad, "pieces and the whole disagree on a bad length");

  auto [channel, far] = platform::MemoryChannel::Make("192.0.2.1");
  auto connection = std::static_pointer_cast<Recorder>(listener.AcceptChannel(std::move(channel)));
  FUZZ_CHECK(connection != nullptr, "not accepted");
  // Each piece is read and what it completes delivered before the next one comes; a bad
  // length ends the connection as soon as its four bytes are read, and nothing cut in the same
  // read is delivered after that.
  size_t at = 0;
  size_t expected = 0;  // frames delivered before the failure
  for (size_t i = 0; i < pieces.size() && connection->IsConnected(); ++i) {
    size_t start = at;
    at += pieces[i];
    far->Push(std::string_view(stream).substr(start, pieces[i]));
    Drain(*connection, whole.frames.size() + 4);
    bool failedHere = whole.bad && whole.badAt + 4 <= at;
    if (!failedHere) {
      while (expected < whole.ends.size() && whole.ends[expected] <= at) ++expected;
      FUZZ_CHECK(connection->IsConnected(), "a good piece ended the connection");
    }
    FUZZ_CHECK(connection->delivered.size() == expected,
               "delivered " + std::to_string(connection->delivered.size()) + " of " +
                   std::to_string(expected) + " complete frames");
  }
  Drain(*connection, whole.frames.size() + 2);

  auto& delivered = connection->delivered;
  if (!whole.bad) {
    FUZZ_CHECK(delivered == whole.frames, "the connection delivered other frames");
    FUZZ_CHECK(connection->IsConnected() && connection->errors == 0, "a good stream failed");
  } else {
    FUZZ_CHECK(delivered.size() <= whole.frames.size() &&
                   std::equal(delivered.begin(), delivered.end(), whole.frames.begin()),
               "frames delivered around a bad length are not the frames in front of it");
    FUZZ_CHECK(connection->errors == 1 &&
                   connection->errorCode == platform::TcpConnection::kErrorProtocol,
               "a bad length ended the connection " + std::to_string(connection->errors) +
                   " times, code " + std::to_string(connection->errorCode));
  }
  connection->Close();
  platform::EventLoop::Instance().RunOnce(0);
  FUZZ_CHECK(listener.ActiveConnectionCount() == 0, "a closed connection is still counted");
  return 0;
}
