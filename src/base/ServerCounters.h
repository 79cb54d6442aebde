#pragma once
// What the server has done since it started, for monitoring. Plain integers written only on the
// event loop's thread, without atomics or locks, so that counting costs the relay no more than
// an increment; other threads see them only in the copies the loop publishes.
#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora {

enum class LoginOutcome : uint8_t {
  kAccepted,
  kNetworkRefused,
  kPasswordRefused,
  kNameRefused,
  kBanned,
  kCount
};

enum class DepartureReason : uint8_t {
  kClosed,       // the client closed its side
  kReset,        // the connection failed or was reset
  kFraming,      // the client broke the framing
  kOutputBound,  // the client left more unsent than a connection may hold
  kDeadline,     // a step of the dialogue took too long
  kOther,
  kCount
};

enum class LookupOutcome : uint8_t {
  kLocated,        // the service named a location
  kNotLocated,     // the service answered without one
  kFailed,         // the request failed
  kTimedOut,       // the service went silent
  kGaveUpWaiting,  // the lookup waited too long for its turn
  kCount
};

template <typename Enum>
constexpr size_t CountOf() {
  return static_cast<size_t>(Enum::kCount);
}

struct ServerCounters {
  // Messages received, one slot per code a client may send (1 to 14 and 999) and one for all
  // other codes; MessageCodeSlot gives the slot.
  static constexpr size_t kMessageCodeSlots = 16;
  static constexpr size_t kOtherCodeSlot = 15;
  static constexpr size_t MessageCodeSlot(int32_t code) {
    if (code >= 1 && code <= 14) return static_cast<size_t>(code - 1);
    if (code == 999) return 14;
    return kOtherCodeSlot;
  }
  // The code a slot counts, or 0 for the slot of all other codes.
  static constexpr int32_t SlotMessageCode(size_t slot) {
    return slot < 14 ? static_cast<int32_t>(slot + 1) : slot == 14 ? 999 : 0;
  }

  std::array<uint64_t, kMessageCodeSlots> MessagesReceived{};
  // Messages handed to members' connections (one per recipient of a relay or an answer).
  uint64_t Deliveries = 0;
  uint64_t BytesSent = 0;
  uint64_t BytesReceived = 0;
  std::array<uint64_t, CountOf<LoginOutcome>()> Logins{};
  std::array<uint64_t, CountOf<DepartureReason>()> Departures{};
  std::array<uint64_t, CountOf<LookupOutcome>()> LocationLookups{};
  // Summed over the lookups counted above, whatever their outcome.
  uint64_t LocationLookupMicroseconds = 0;
  uint64_t NetworkFileRewrites = 0;
  uint64_t NetworkFileRewriteFailures = 0;
  uint64_t NetworkFileRewriteMicroseconds = 0;
  uint64_t BansRecorded = 0;
  // Position reports replaced by a newer one from the same member before they were sent.
  uint64_t ConflatedPositions = 0;

  void CountMessage(int32_t code) { ++MessagesReceived[MessageCodeSlot(code)]; }
  void CountLogin(LoginOutcome outcome) { ++Logins[static_cast<size_t>(outcome)]; }
  void CountDeparture(DepartureReason reason) { ++Departures[static_cast<size_t>(reason)]; }
  void CountLookup(LookupOutcome outcome, uint64_t microseconds) {
    ++LocationLookups[static_cast<size_t>(outcome)];
    LocationLookupMicroseconds += microseconds;
  }
  void CountRewrite(bool written, uint64_t microseconds) {
    ++NetworkFileRewrites;
    if (!written) ++NetworkFileRewriteFailures;
    NetworkFileRewriteMicroseconds += microseconds;
  }
};

}  // namespace velmora
