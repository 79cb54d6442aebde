// The message dispatcher: a sequence of connections, messages, stray bytes and drops chosen by
// the input, against real networks and an in-memory server database. The harness checks after
// every handled message and every end that each connection got exactly the frames it should
// (relays only to logged-in members, in order, once), that the seat counts equal the seats the
// connections hold, and that log-ins are registered in the network file.
#include <iterator>
#include <map>

#include "DispatcherHarness.h"
#include "FuzzSupport.h"
#include "platform/adapters/Md5.h"
#include "protocol/FrameCodec.h"

namespace velmora::fuzz {
namespace {

constexpr size_t kMaxPeers = 8;
constexpr int kMaxSteps = 96;

const char* const kAddresses[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "::1", "127.0.0.1"};
const char* const kNetworkNames[] = {"Lobby", "lobby", "Arena", "ARENA", "(all networks)",
                                     "Off",   "Zero",  "Nowhere", ""};
const char* const kPasswords[] = {"pw", "", "x", "PW"};
const char* const kUserNames[] = {"Root", "root", "Ann", "Bob", "Boss", "Op", "Mallory", "ann"};
const int32_t kCommands[] = {1, 2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14, 999, 6, 8, 0};

// A known value by its index; the byte 255 takes the input's own text instead.
template <size_t N>
std::string Choose(ByteReader& input, const char* const (&names)[N]) {
  uint8_t choice = input.Byte();
  if (choice == 255) return input.Text(24);
  return names[choice % N];
}

// One message; a position report mostly carries the next sequence number as its X.
std::string MessageBytes(ByteReader& input, Harness& harness, int64_t& sequence) {
  uint8_t code = input.Byte();
  int32_t command = code == 255 ? input.Int32() : kCommands[code % std::size(kCommands)];
  std::string data;
  switch (command) {
    case 1: data = Choose(input, kNetworkNames); break;
    case 2: data = platform::Md5Digest(Choose(input, kPasswords)); break;
    case 3: data = Choose(input, kUserNames); break;
    case 4:
      if (input.Below(6) == 0) {
        data = input.Text(32);
      } else {
        sequence = harness.NextSequence();
        data = std::to_string(sequence) + "," + input.Text(24);
      }
      break;
    case 10:
    case 11: data = Choose(input, kUserNames) + "|" + input.Text(16); break;
    case 14: data = input.Bool() ? std::to_string(input.Below(5)) : input.Text(8); break;
    default: data = input.Text(32); break;
  }
  return CreatePacket(command, data);
}

// A burst of messages from one peer, sent in pieces of the input's choosing: a piece byte gives
// the piece's length (0: all that is left), and with its top bit a pass of the loop follows.
void Burst(ByteReader& input, Harness& harness, size_t peer) {
  std::string bytes;
  std::map<size_t, int64_t> numbered;
  size_t messages = 1 + input.Below(4);
  for (size_t i = 0; i < messages; ++i) {
    int64_t sequence = -1;
    std::string frame = MessageBytes(input, harness, sequence);
    if (sequence >= 0) numbered[bytes.size()] = sequence;
    bytes += frame;
  }
  for (size_t at = 0; at < bytes.size();) {
    uint8_t split = input.Byte();
    size_t left = bytes.size() - at;
    size_t piece = (split & 0x7F) == 0 ? left : std::min<size_t>(split & 0x7F, left);
    std::map<size_t, int64_t> inPiece;
    for (auto& [offset, sequence] : numbered)
      if (offset >= at && offset < at + piece) inPiece[offset - at] = sequence;
    harness.Send(peer, bytes.substr(at, piece), inPiece);
    at += piece;
    if (split & 0x80) harness.RunPass();
  }
}

// Actions: 0 connect, 1-4 a burst of messages, 5 stray bytes, 6 drop, 7 one pass, 8-9 drain.
void Step(ByteReader& input, Harness& harness) {
  size_t count = harness.PeerCount();
  size_t action = input.Below(10);
  if (count == 0 || (action == 0 && count < kMaxPeers)) {
    int listener = static_cast<int>(input.Below(2));
    // The platform reports addresses as IP text; the input picks one.
    harness.Connect(listener, kAddresses[input.Below(std::size(kAddresses))]);
    return;
  }
  switch (action) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4: Burst(input, harness, input.Below(count)); break;
    case 5: {
      size_t peer = input.Below(count);
      harness.Send(peer, input.Text(24), {});
      break;
    }
    case 6: harness.Drop(input.Below(count)); break;
    case 7: harness.RunPass(); break;
    default: harness.Drain(); break;
  }
}

}  // namespace
}  // namespace velmora::fuzz

using namespace velmora::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = ScratchFolder();
  ByteReader input(data, size);
  Harness harness(folder);
  for (int step = 0; step < kMaxSteps && !input.Empty(); ++step) Step(input, harness);
  harness.Drain();
  harness.Finish();
  return 0;
}
