#pragma once
// What the server has done since it started, for monitoring. Plain integers written only on the
// event loop's thread, without atomics or locks, so that counting costs the relay no more than
// an increment; other threads see them only in the copies the loop publishes.
//
// It sits with the message codes because it counts messages by code; every floor that counts
// something (networks, server, client, geo, host) builds on this one.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/MessageCode.h"

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
  kKicked,       // an administrator kicked the member
  kBanned,       // an administrator banned the member
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

// The names the monitoring gives the outcomes and reasons, in the enums' order.
inline constexpr std::array<std::string_view, CountOf<LoginOutcome>()> kLoginOutcomeNames = {
    "accepted", "network_refused", "password_refused", "name_refused", "banned"};
inline constexpr std::array<std::string_view, CountOf<DepartureReason>()> kDepartureReasonNames =
    {"closed", "reset", "framing", "output_bound", "deadline", "kicked", "banned", "other"};
inline constexpr std::array<std::string_view, CountOf<LookupOutcome>()> kLookupOutcomeNames = {
    "located", "not_located", "failed", "timed_out", "gave_up_waiting"};

template <size_t N>
constexpr bool EveryOneNamed(const std::array<std::string_view, N>& names) {
  return std::none_of(names.begin(), names.end(),
                      [](std::string_view name) { return name.empty(); });
}
static_assert(EveryOneNamed(kLoginOutcomeNames) && EveryOneNamed(kDepartureReasonNames) &&
              EveryOneNamed(kLookupOutcomeNames));

// Codes 6 and 8 lie among the requests' codes without being requests; the monitoring has
// always shown a count for each, and keeps it.
inline constexpr std::array<int32_t, 2> kUnusedCountedCodes = {6, 8};

// The codes counted one by one, ascending: the client's codes and the two above.
inline constexpr auto kCountedCodes = [] {
  std::array<int32_t, kClientCodes.size() + kUnusedCountedCodes.size()> codes{};
  auto end = std::transform(kClientCodes.begin(), kClientCodes.end(), codes.begin(),
                            [](ClientCode code) { return Wire(code); });
  std::copy(kUnusedCountedCodes.begin(), kUnusedCountedCodes.end(), end);
  std::sort(codes.begin(), codes.end());
  return codes;
}();
static_assert(std::adjacent_find(kCountedCodes.begin(), kCountedCodes.end()) ==
              kCountedCodes.end());

struct ServerCounters {
  // Messages received, one slot per counted code, in their order, and one for all other codes.
  static constexpr size_t kOtherCodeSlot = kCountedCodes.size();
  static constexpr size_t MessageCodeSlot(int32_t code) {
    auto at = std::lower_bound(kCountedCodes.begin(), kCountedCodes.end(), code);
    return at != kCountedCodes.end() && *at == code
               ? static_cast<size_t>(at - kCountedCodes.begin())
               : kOtherCodeSlot;
  }

  std::array<uint64_t, kCountedCodes.size() + 1> MessagesReceived{};
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
  // Position reports that came faster than the ceiling lets a member's go out: held until the
  // member's next token, or replaced by a newer one meanwhile.
  uint64_t ThrottledPositions = 0;

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
